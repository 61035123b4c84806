#include "threats/sm_task_queue.h"
#include "threats/callback_wrapper.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>

#include "error.pb.h"
#include "framework/error/cf_terminate.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"

namespace {

// Keeps the delegate's reports and what the tasks did, in order.
struct journal_t : sm_task_queue_t::delegate_t {
  void on_task_exception(std::exception const& e) override { add(std::string("failed: ") + e.what()); }
  void add(std::string const& what) { entries.push_back(what); }  // on the worker only
  std::vector<std::string> entries;
};

// Whether a task pushed now runs within 20 s: then everything before it has run.
bool drain(sm_task_queue_t& queue) {
  auto done = std::make_shared<std::promise<void>>();
  queue.push([done] { done->set_value(); });
  return done->get_future().wait_for(std::chrono::seconds(20)) == std::future_status::ready;
}

TEST(sm_task_queue_test, tasks_run_in_order_past_failures_until_stop_drops_the_rest) {
  journal_t journal;
  sm_task_queue_t queue(&journal);
  std::promise<void> gate, started;
  queue.push([&journal, open = gate.get_future().share()] { open.wait(), journal.add("first"); });
  queue.push([&] {
    journal.add("second");
    queue.push([&] { journal.add("inner"); });  // a task pushing a task
    journal.add("second end");
  });
  queue.push([] { throw std::runtime_error("task failed"); });
  queue.push(std::function<void()>());  // empty: std::bad_function_call
  queue.push([&journal] { journal.add("after"); });
  gate.set_value();
  ASSERT_TRUE(drain(queue) && drain(queue));  // the second one after "inner"
  // A task that goes on a little once stop() asks the worker to end: stop() waits for it, and drops the one
  // behind it. The queue is usable again.
  queue.push([&] {
    started.set_value();
    while (!boost::this_thread::interruption_requested()) boost::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    journal.add("stopped");
  });
  queue.push([&journal] { journal.add("dropped"); });
  started.get_future().wait();
  queue.stop();
  queue.push([&journal] { journal.add("later"); });
  ASSERT_TRUE(drain(queue));
  queue.stop(), queue.stop();
  EXPECT_EQ((std::vector<std::string>{"first", "second", "second end", "failed: task failed",
                                      std::string("failed: ") + std::bad_function_call().what(), "after", "inner",
                                      "stopped", "later"}),
            journal.entries);
}

struct owner_t : util::callback_wrapper_t {
  void cancel() { *cancelled = true; }
};

TEST(callback_wrapper_test, cancellation_drops_earlier_posts_only) {
  boost::asio::io_context io;
  std::vector<std::string> seen;
  auto handler = [&seen](int n, std::string const& text) { seen.push_back(std::to_string(n) + text); };
  {
    owner_t owner;
    owner.post(io, handler, 1, std::string("a")), owner.cancel();
    owner.post(io, handler, 2, std::string("b")), owner.cancel(), owner.cancel();
    owner.post(io, handler, 3, std::string("c")), owner.post(io, handler, 4, std::string("d"));
    EXPECT_TRUE(seen.empty());  // never inside the call
    io.run();
    owner.post(io, handler, 5, std::string("e"));
  }
  io.restart();
  io.run();  // destruction drops what is still queued
  EXPECT_EQ((std::vector<std::string>{"3c", "4d"}), seen);
}

struct throwing_delegate_t : sm_task_queue_t::delegate_t {
  void on_task_exception(std::exception const&) override { throw std::logic_error("delegate failed"); }
};

// The ways a worker ends the process, each run in a child of its own.
[[noreturn]] void push_and_wait(std::function<void()> task, int threshold) {
  cf_set_log(cf_make_console_log());
  cf_log_threshold = threshold;
  throwing_delegate_t delegate;
  sm_task_queue_t queue(&delegate);
  queue.push(std::move(task));
  for (;;) pause();
}

TEST(sm_task_queue_death_test, error_code_ends_the_process_at_once_any_other_failure_goes_to_terminate) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit([] { std::fputs("exit handlers ran\n", stderr); });
        push_and_wait([] { throw qn::EC_APP_TERMINATED; }, 0);
      },
      ::testing::ExitedWithCode(107), "^Notice: Exit with status 107 \\(Process terminated by signal\\)\n$");
  EXPECT_EXIT(push_and_wait([] { throw qn::EC_BAD_CONFIG; }, 3), ::testing::ExitedWithCode(102), "^$");
  EXPECT_EXIT(
      {
        cf_install_terminate_handler();
        push_and_wait([] { throw std::runtime_error("task failed"); }, 0);
      },
      ::testing::ExitedWithCode(125), "^Error: Task queue unexpected: delegate failed\nError: Unexpected exception\n$");
}

}  // namespace
