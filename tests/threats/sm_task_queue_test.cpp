#include "threats/sm_task_queue.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "error.pb.h"
#include "framework/error/cf_terminate.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"

namespace {

// Keeps the delegate's reports and what the tasks did, in order, with the thread each ran on.
struct journal_t : sm_task_queue_t::delegate_t {
  void on_task_exception(std::exception const& e) override { add(std::string("failed: ") + e.what()); }
  void add(std::string const& what) {
    std::lock_guard<std::mutex> lock(mutex);
    entries.push_back(what);
    threads.push_back(boost::this_thread::get_id());
  }
  std::vector<std::string> what() {
    std::lock_guard<std::mutex> lock(mutex);
    return entries;
  }
  std::mutex mutex;
  std::vector<std::string> entries;
  std::vector<boost::thread::id> threads;
};

// Pushes a task that fulfils the promise, and waits for it: everything before it has run.
void drain(sm_task_queue_t& queue) {
  std::promise<void> done;
  queue.push([&done] { done.set_value(); });
  done.get_future().wait();
}

TEST(sm_task_queue_test, tasks_run_in_order_on_one_worker_past_failures) {
  journal_t journal;
  sm_task_queue_t queue(&journal);
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::promise<void> inner_done;
  queue.push([&journal, open] {
    open.wait();
    journal.add("first");
  });
  queue.push([&] {
    journal.add("second");
    queue.push([&] {  // a task pushing a task
      journal.add("inner");
      inner_done.set_value();
    });
    journal.add("second end");
  });
  queue.push([] { throw std::runtime_error("task failed"); });
  queue.push(std::function<void()>());  // empty: std::bad_function_call
  queue.push([&journal] { journal.add("after"); });
  gate.set_value();
  inner_done.get_future().wait();
  EXPECT_EQ((std::vector<std::string>{"first", "second", "second end", "failed: task failed",
                                      std::string("failed: ") + std::bad_function_call().what(), "after", "inner"}),
            journal.what());
  ASSERT_EQ(7u, journal.threads.size());
  EXPECT_EQ(journal.threads[0], journal.threads[6]);
  EXPECT_NE(boost::this_thread::get_id(), journal.threads[0]);
}

TEST(sm_task_queue_test, stop_waits_for_the_running_task_and_drops_the_rest) {
  journal_t journal;
  sm_task_queue_t queue(&journal);
  std::promise<void> started;
  std::atomic<bool> finished{false};
  queue.push([&] {
    started.set_value();
    // Runs until stop() has asked the worker to end: stop cannot have returned before.
    while (!boost::this_thread::interruption_requested()) boost::this_thread::yield();
    finished = true;
  });
  queue.push([&journal] { journal.add("dropped"); });
  started.get_future().wait();
  queue.stop();
  EXPECT_TRUE(finished);

  // Usable again, with a new worker.
  queue.push([&journal] { journal.add("later"); });
  drain(queue);
  EXPECT_EQ(std::vector<std::string>{"later"}, journal.what());
  queue.stop();
  queue.stop();
}

TEST(sm_task_queue_test, pushes_from_two_threads_run_once_each_one_at_a_time) {
  journal_t journal;
  sm_task_queue_t queue(&journal);
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> ran{0};
  auto pusher = [&] {
    for (int i = 0; i < 200; ++i)
      queue.push([&] {
        if (running.fetch_add(1) != 0) ++overlaps;
        ++ran;
        running.fetch_sub(1);
      });
  };
  std::thread a(pusher);
  std::thread b(pusher);
  a.join();
  b.join();
  drain(queue);
  EXPECT_EQ(400, ran.load());
  EXPECT_EQ(0, overlaps.load());
}

// Marks the thread of the first worker in the test below (thread ids may be reused).
thread_local bool first_worker = false;

// One thread's push starts a worker; once the queue has drained, another thread's push joins and
// replaces it. The first thread does nothing more meanwhile, so only the queue's own locking can
// order the two threads' use of the worker's thread object (ThreadSanitizer reports it otherwise).
TEST(sm_task_queue_test, worker_started_by_one_thread_is_replaced_by_another_a_race_only_thread_sanitizer_sees) {
  journal_t journal;
  sm_task_queue_t queue(&journal);
  std::promise<void> first_ran;
  std::promise<void> release;
  std::thread other([&] {
    queue.push([&first_ran] {
      first_worker = true;
      first_ran.set_value();
    });
    release.get_future().wait();
  });
  first_ran.get_future().wait();
  // Until a push finds the queue drained and starts a new worker.
  for (;;) {
    std::promise<bool> on_first_worker;
    queue.push([&on_first_worker] { on_first_worker.set_value(first_worker); });
    if (!on_first_worker.get_future().get()) break;
  }
  release.set_value();
  other.join();
}

// The ways a worker ends the process run in a child of their own.
class sm_task_queue_death_test : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

class throwing_delegate_t : public sm_task_queue_t::delegate_t {
 public:
  void on_task_exception(std::exception const&) override { throw std::logic_error("delegate failed"); }
};

[[noreturn]] void push_and_wait(std::function<void()> task, int threshold) {
  cf_set_log(cf_make_console_log());
  cf_log_threshold = threshold;
  throwing_delegate_t delegate;
  sm_task_queue_t queue(&delegate);
  queue.push(std::move(task));
  for (;;) pause();
}

void say_exit_handlers_ran() {
  static char const text[] = "exit handlers ran\n";
  ssize_t const written = write(2, text, sizeof text - 1);
  (void)written;
}

TEST_F(sm_task_queue_death_test, error_code_from_a_task_ends_the_process_with_it) {
  // At once: exit handlers do not run.
  EXPECT_EXIT(
      {
        std::atexit(&say_exit_handlers_ran);
        push_and_wait([] { throw qn::EC_APP_TERMINATED; }, 0);
      },
      ::testing::ExitedWithCode(107), "^Notice: Exit with status 107 \\(Process terminated by signal\\)\n$");
  EXPECT_EXIT(push_and_wait([] { throw qn::EC_BAD_CONFIG; }, 3), ::testing::ExitedWithCode(102), "^$");
}

TEST_F(sm_task_queue_death_test, failure_outside_a_task_goes_to_the_terminate_handler) {
  EXPECT_EXIT(
      {
        cf_install_terminate_handler();
        push_and_wait([] { throw std::runtime_error("task failed"); }, 0);
      },
      ::testing::ExitedWithCode(125), "^Error: Task queue unexpected: delegate failed\nError: Unexpected exception\n$");
}

long virtual_size_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7)) * 1024;
  return -1;
}

// No room for a thread stack: the push fails, keeps nothing, and the next push works.
[[noreturn]] void push_without_room_for_a_thread() {
  journal_t journal;
  sm_task_queue_t queue(&journal);
  std::promise<void> ran;
  rlimit old{};
  getrlimit(RLIMIT_AS, &old);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(virtual_size_bytes() + (1 << 20));
  setrlimit(RLIMIT_AS, &tight);
  bool failed = false;
  try {
    queue.push([] {});
  } catch (boost::thread_resource_error const&) {
    failed = true;
  }
  setrlimit(RLIMIT_AS, &old);
  if (!failed) _exit(2);
  queue.push([&ran] { ran.set_value(); });
  // Only a safety net against a queue that never runs it.
  if (ran.get_future().wait_for(std::chrono::seconds(20)) != std::future_status::ready) _exit(4);
  _exit(3);
}

TEST_F(sm_task_queue_death_test, failed_thread_start_keeps_the_queue_usable) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not mix with sanitizer shadow memory";
#endif
  EXPECT_EXIT(push_without_room_for_a_thread(), ::testing::ExitedWithCode(3), "");
}

}  // namespace
