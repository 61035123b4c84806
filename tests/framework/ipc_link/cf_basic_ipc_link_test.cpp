// The framed link's limits, batches and close. Its frames in the daemon's conversations are
// checked end to end.
#include "framework/ipc_link/cf_basic_ipc_link.h"

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "tests/support/configd_peer.h"

namespace {

using codes_t = std::vector<boost::system::error_code>;

// A link on the other end of the peer's pair that records what the base hands it.
struct recording_link_t : std::enable_shared_from_this<recording_link_t>, cf_ipc_link_t {
  recording_link_t(boost::asio::io_context& io, int fd, std::size_t limit) : cf_ipc_link_t(limit) {
    socket = std::make_shared<cf_local_stream_socket_t>(io);
    socket->assign(boost::asio::local::stream_protocol(), fd);
  }
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override {
    void const* data = nullptr;
    int size = 0;
    EXPECT_TRUE(stream->Next(&data, &size));
    bodies.emplace_back(static_cast<char const*>(data), size);
  }
  void on_error(boost::system::error_code const& ec) override { errors.push_back(ec); }
  std::shared_ptr<cf_ipc_link_t> get_shared() override { return shared_from_this(); }
  void before_write() override { batches.push_back(output_in_flight.size); }
  void after_write() override { batches.push_back(0); }
  using cf_ipc_link_t::socket;
  std::vector<std::string> bodies;
  codes_t errors;
  std::vector<std::size_t> batches;
};

qn::Error message(std::size_t what_size) {
  qn::Error m;
  m.set_code(qn::EC_PROTOCOL_VIOLATION);
  m.set_what(std::string(what_size, 'w'));
  return m;
}

struct ipc_link_test : ::testing::Test {
  // Runs every ready handler; true when no operation is left outstanding.
  bool drain() { return io.restart(), io.poll(), io.stopped(); }
  boost::asio::io_context io;
  configd_peer_t peer;
  codes_t const bad_size{qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE)};
};

TEST_F(ipc_link_test, sends_up_to_the_limit_in_batches_behind_the_write_under_way_a_larger_one_queues_nothing) {
  std::size_t const limit = 300;
  auto link = std::make_shared<recording_link_t>(io, peer.take_other_end(), limit);
  ASSERT_EQ(limit, message(limit - 5).ByteSizeLong());  // 2 + 1 + 2 + n
  for (std::size_t n : {limit - 5, std::size_t(1), std::size_t(2)}) link->async_send_message(message(n));
  try {
    link->async_send_message(message(limit - 4));
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(bad_size, codes_t{e.code()});
  }
  drain();
  auto frame = [](std::size_t n) { return configd_peer_t::frame(message(n).SerializeAsString()); };
  std::string const first = frame(limit - 5), rest = frame(1) + frame(2);
  EXPECT_EQ((std::vector<std::size_t>{first.size(), 0, rest.size(), 0}), link->batches);
  EXPECT_EQ(first + rest, peer.read(first.size() + rest.size()));
  drain();
  EXPECT_FALSE(peer.has_data());
}

// A header in pieces; a frame of the limit arrives, a longer one ends the reading. After a close
// no completion reaches the derived class, not even one that succeeded.
TEST_F(ipc_link_test, limit_on_reading_and_completions_after_a_close) {
  auto link = std::make_shared<recording_link_t>(io, peer.take_other_end(), 16);
  link->async_read_header();
  std::string const stream = configd_peer_t::frame(std::string(16, 'b')) + configd_peer_t::frame(std::string(17, 'c'));
  for (std::string const& piece : {stream.substr(0, 2), stream.substr(2, 3), stream.substr(5)}) {
    peer.send_raw(piece);
    drain();
  }
  EXPECT_EQ(std::vector<std::string>{std::string(16, 'b')}, link->bodies);
  EXPECT_EQ(bad_size, link->errors);
  EXPECT_TRUE(drain()) << "no read may be left outstanding";
  configd_peer_t other;
  auto closed = std::make_shared<recording_link_t>(io, other.take_other_end(), 1000);
  other.send_raw(configd_peer_t::frame("late"));
  closed->async_read_header();
  io.restart();
  io.poll_one();  // the header; its body is read by now as well
  closed->async_send_message(message(10));
  closed->socket->close();
  EXPECT_TRUE(drain());
  EXPECT_TRUE(closed->errors.empty() && closed->bodies.empty() && closed->batches.size() == 1);
}

}  // namespace
