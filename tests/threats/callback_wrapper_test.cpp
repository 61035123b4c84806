#include "threats/callback_wrapper.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <future>
#include <string>
#include <vector>

#include "threats/sm_task_queue.h"

namespace {

class owner_t : public util::callback_wrapper_t {
 public:
  void cancel() { *cancelled = true; }
};

TEST(callback_wrapper_test, cancellation_drops_earlier_posts_only) {
  boost::asio::io_context io;
  std::vector<std::string> seen;
  auto handler = [&seen](int n, std::string const& text) { seen.push_back(std::to_string(n) + text); };
  {
    owner_t owner;
    owner.post(io, handler, 1, std::string("a"));
    owner.cancel();
    owner.post(io, handler, 2, std::string("b"));
    owner.cancel();
    owner.cancel();
    owner.post(io, handler, 3, std::string("c"));
    owner.post(io, handler, 4, std::string("d"));
    EXPECT_TRUE(seen.empty());  // never inside the call
    io.run();
    owner.post(io, handler, 5, std::string("e"));
  }
  io.restart();
  io.run();  // destruction drops what is still queued
  EXPECT_EQ((std::vector<std::string>{"3c", "4d"}), seen);
}

class ignoring_delegate_t : public sm_task_queue_t::delegate_t {
  void on_task_exception(std::exception const&) override {}
};

// The owner's pattern: results come from the database thread; the owner stops and joins it,
// then cancels, so nothing queued before the close reaches its callback.
TEST(callback_wrapper_test, results_from_the_worker_before_a_close_are_dropped) {
  boost::asio::io_context io;
  owner_t owner;
  ignoring_delegate_t delegate;
  sm_task_queue_t queue(&delegate);
  std::vector<int> seen;
  auto answer = [&](int n) {
    queue.push([&, n] {
      owner.post(
          io, [&seen](int m) { seen.push_back(m); }, n);
    });
    std::promise<void> done;
    queue.push([&done] { done.set_value(); });
    done.get_future().wait();
  };
  answer(1);
  answer(2);
  queue.stop();
  owner.cancel();
  answer(3);
  queue.stop();
  io.run();
  EXPECT_EQ(std::vector<int>{3}, seen);
}

}  // namespace
