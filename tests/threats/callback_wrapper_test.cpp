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

TEST(callback_wrapper_test, posts_run_on_the_loop_with_their_arguments) {
  boost::asio::io_context io;
  owner_t owner;
  std::vector<std::string> seen;
  auto handler = [&seen](int n, std::string const& text) { seen.push_back(std::to_string(n) + text); };
  owner.post(io, handler, 1, std::string("a"));
  owner.post(io, handler, 2, std::string("b"));
  EXPECT_TRUE(seen.empty());  // never inside the call
  io.run();
  EXPECT_EQ((std::vector<std::string>{"1a", "2b"}), seen);
}

TEST(callback_wrapper_test, cancellation_drops_earlier_posts_only) {
  boost::asio::io_context io;
  owner_t owner;
  std::vector<int> seen;
  auto handler = [&seen](int n) { seen.push_back(n); };
  owner.post(io, handler, 1);
  owner.post(io, handler, 2);
  owner.cancel();
  owner.post(io, handler, 3);
  owner.cancel();
  owner.cancel();
  owner.post(io, handler, 4);
  owner.post(io, handler, 5);
  io.run();
  EXPECT_EQ((std::vector<int>{4, 5}), seen);
}

TEST(callback_wrapper_test, destruction_drops_what_is_still_queued) {
  boost::asio::io_context io;
  std::vector<int> seen;
  {
    owner_t owner;
    owner.post(
        io, [&seen](int n) { seen.push_back(n); }, 1);
  }
  io.run();
  EXPECT_TRUE(seen.empty());
}

// The owner's pattern: results come from the database thread; the owner stops and joins it,
// then cancels, so nothing queued before the close reaches its callback.
class db_owner_t : public util::callback_wrapper_t, public sm_task_queue_t::delegate_t {
 public:
  explicit db_owner_t(boost::asio::io_context& io) : io(io), queue(this) {}
  void on_task_exception(std::exception const&) override {}

  void async_answer(int n, std::function<void(int)> const& callback) {
    queue.push([this, n, callback] { post(io, callback, n * 10); });
  }
  void close() {
    queue.stop();
    *cancelled = true;
  }

  boost::asio::io_context& io;
  sm_task_queue_t queue;
};

TEST(callback_wrapper_test, results_from_the_worker_before_a_close_are_dropped) {
  boost::asio::io_context io;
  db_owner_t owner(io);
  std::vector<int> seen;
  auto callback = [&seen](int n) { seen.push_back(n); };
  owner.async_answer(1, callback);
  owner.async_answer(2, callback);
  std::promise<void> done;
  owner.queue.push([&done] { done.set_value(); });
  done.get_future().wait();
  owner.close();

  owner.async_answer(3, callback);
  std::promise<void> done_again;
  owner.queue.push([&done_again] { done_again.set_value(); });
  done_again.get_future().wait();
  owner.queue.stop();
  io.run();
  EXPECT_EQ(std::vector<int>{30}, seen);
}

}  // namespace
