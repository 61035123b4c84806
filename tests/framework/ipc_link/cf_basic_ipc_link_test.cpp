// The framed link's limits, batches and close. Its frames in the daemon's conversations are
// checked end to end.
#include "framework/ipc_link/cf_basic_ipc_link.h"

#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "tests/support/configd_peer.h"

namespace {

// A link on the other end of the peer's pair that records what the base hands it.
class recording_link_t : public std::enable_shared_from_this<recording_link_t>, public cf_ipc_link_t {
 public:
  recording_link_t(boost::asio::io_context& io, int fd, std::size_t limit) : cf_ipc_link_t(limit) {
    socket = std::make_shared<cf_local_stream_socket_t>(io);
    socket->assign(boost::asio::local::stream_protocol(), fd);
  }
  using cf_ipc_link_t::socket;
  std::vector<std::string> bodies;
  std::vector<boost::system::error_code> errors;
  std::vector<std::size_t> batches;

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override {
    void const* data = nullptr;
    int size = 0;
    EXPECT_TRUE(stream->Next(&data, &size));
    bodies.emplace_back(static_cast<char const*>(data), static_cast<std::size_t>(size));
  }
  void on_error(boost::system::error_code const& ec) override { errors.push_back(ec); }
  std::shared_ptr<cf_ipc_link_t> get_shared() override { return shared_from_this(); }
  void before_write() override { batches.push_back(output_in_flight.size); }
};

qn::Error message(std::size_t what_size) {
  qn::Error m;
  m.set_code(qn::EC_PROTOCOL_VIOLATION);
  m.set_what(std::string(what_size, 'w'));
  return m;
}

std::string frame(std::size_t what_size) { return configd_peer_t::frame(message(what_size).SerializeAsString()); }

class ipc_link_test : public ::testing::Test {
 protected:
  std::shared_ptr<recording_link_t> make_link(std::size_t limit) {
    return std::make_shared<recording_link_t>(io, peer.take_other_end(), limit);
  }
  // Runs every ready handler; true when no operation is left outstanding.
  bool drain() {
    io.restart();
    io.poll();
    return io.stopped();
  }

  boost::asio::io_context io;
  configd_peer_t peer;
  boost::system::error_code const bad_size = qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE);
};

TEST_F(ipc_link_test, sends_up_to_the_limit_in_batches_behind_the_write_under_way_a_larger_one_queues_nothing) {
  std::size_t const limit = 300;
  auto link = make_link(limit);
  ASSERT_EQ(limit, message(limit - 5).ByteSizeLong());  // 2 + 1 + 2 + n
  for (std::size_t n : {limit - 5, std::size_t(1), std::size_t(2)}) link->async_send_message(message(n));
  try {
    link->async_send_message(message(limit - 4));
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(bad_size, e.code());
  }
  drain();
  std::string const first = frame(limit - 5), rest = frame(1) + frame(2);
  EXPECT_EQ((std::vector<std::size_t>{first.size(), rest.size()}), link->batches);
  EXPECT_EQ(first + rest, peer.read(first.size() + rest.size()));
  drain();
  EXPECT_FALSE(peer.has_data());
}

TEST_F(ipc_link_test, header_in_pieces_a_frame_of_the_limit_arrives_a_longer_one_ends_the_reading) {
  auto link = make_link(16);
  link->async_read_header();
  std::string const stream = configd_peer_t::frame(std::string(16, 'b')) + configd_peer_t::frame(std::string(17, 'c'));
  for (std::string const& piece : {stream.substr(0, 2), stream.substr(2, 3), stream.substr(5)}) {
    peer.send_raw(piece);
    drain();
  }
  EXPECT_EQ(std::vector<std::string>{std::string(16, 'b')}, link->bodies);
  EXPECT_EQ(std::vector<boost::system::error_code>{bad_size}, link->errors);
  EXPECT_TRUE(drain()) << "no read may be left outstanding";
}

TEST_F(ipc_link_test, completions_after_a_close_never_reach_the_derived_class) {
  auto link = make_link(1000);
  link->async_read_header();
  link->async_send_message(message(10));
  peer.send_raw(configd_peer_t::frame("late"));
  link->socket->close();
  EXPECT_TRUE(drain());
  EXPECT_TRUE(link->errors.empty() && link->bodies.empty());
}

}  // namespace
