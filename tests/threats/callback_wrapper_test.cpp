#include "threats/callback_wrapper.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <string>
#include <vector>

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

}  // namespace
