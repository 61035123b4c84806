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

constexpr std::size_t production_limit = std::size_t(1) << 26;

// A link that records what the base hands it.
class recording_link_t : public std::enable_shared_from_this<recording_link_t>, public cf_ipc_link_t {
 public:
  recording_link_t(boost::asio::io_context& io, std::size_t limit) : cf_ipc_link_t(limit), io(io) {}

  std::shared_ptr<recording_link_t> adopt(int fd) {
    socket = std::make_shared<cf_local_stream_socket_t>(io);
    socket->assign(boost::asio::local::stream_protocol(), fd);
    return shared_from_this();
  }

  using cf_ipc_link_t::pending_output;
  using cf_ipc_link_t::socket;

  boost::asio::io_context& io;
  std::vector<std::string> bodies;
  std::vector<boost::system::error_code> errors;
  std::vector<std::size_t> batches;
  int after_write_calls = 0;
  int queue_empty_calls = 0;
  bool close_in_on_message = false;

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override {
    void const* data = nullptr;
    int size = 0;
    EXPECT_TRUE(stream->Next(&data, &size));
    bodies.emplace_back(static_cast<char const*>(data), static_cast<std::size_t>(size));
    EXPECT_FALSE(stream->Next(&data, &size)) << "the body comes in one piece";
    if (close_in_on_message) socket->close();
  }
  void on_error(boost::system::error_code const& ec) override { errors.push_back(ec); }
  std::shared_ptr<cf_ipc_link_t> get_shared() override { return shared_from_this(); }
  void before_write() override { batches.push_back(output_in_flight.size); }
  void after_write() override { ++after_write_calls; }
  void on_write_queue_empty() override { ++queue_empty_calls; }
};

std::string le32(std::uint32_t n) {
  return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}

qn::Error error_message(std::size_t what_size) {
  qn::Error message;
  message.set_code(qn::EC_PROTOCOL_VIOLATION);
  message.set_what(std::string(what_size, 'w'));
  return message;
}

std::string frame(std::size_t what_size) { return configd_peer_t::frame(error_message(what_size).SerializeAsString()); }

class ipc_link_test : public ::testing::Test {
 protected:
  std::shared_ptr<recording_link_t> make_link(configd_peer_t& other, std::size_t limit = production_limit) {
    return std::make_shared<recording_link_t>(io, limit)->adopt(other.take_other_end());
  }

  // Runs every ready handler; true when no operation is left outstanding.
  bool drain() {
    io.restart();
    io.poll();
    return io.stopped();
  }

  boost::asio::io_context io;
  configd_peer_t peer;
};

TEST_F(ipc_link_test, frame_is_little_endian_length_then_body) {
  auto link = make_link(peer);
  link->async_send_message(error_message(1));
  // 305 = 0x131: the low byte comes first.
  ASSERT_EQ(305u, error_message(300).ByteSizeLong());
  link->async_send_message(error_message(300));
  drain();
  EXPECT_EQ(std::string("\x05\x00\x00\x00\x08\x0c\x12\x01w", 9), peer.read(9));
  EXPECT_EQ(std::string("\x31\x01\x00\x00", 4) + error_message(300).SerializeAsString(), peer.read(4 + 305));
}

TEST_F(ipc_link_test, message_of_exactly_the_limit_is_sent_one_byte_more_throws_and_queues_nothing) {
  std::size_t const limit = 200;
  auto link = make_link(peer, limit);
  // Above 127 bytes the string's length takes two bytes: 2 + 1 + 2 + n.
  ASSERT_EQ(limit, error_message(limit - 5).ByteSizeLong());
  link->async_send_message(error_message(limit - 5));
  // The first frame is in flight; a second one waits in the pending output.
  link->async_send_message(error_message(limit - 5));
  ASSERT_EQ(4 + limit, link->pending_output.size);
  try {
    link->async_send_message(error_message(limit - 4));
    FAIL() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), e.code());
    EXPECT_EQ(0u, std::string(e.what()).rfind("async_send_message", 0)) << e.what();
  }
  EXPECT_EQ(4 + limit, link->pending_output.size);
  drain();
  EXPECT_EQ(frame(limit - 5) + frame(limit - 5), peer.read(2 * (4 + limit)));
  drain();
  EXPECT_FALSE(peer.has_data());
}

TEST_F(ipc_link_test, frames_wait_for_a_socket_and_for_the_write_under_way_then_leave_together_in_order) {
  auto link = std::make_shared<recording_link_t>(io, production_limit);
  link->async_send_message(error_message(1));
  EXPECT_FALSE(link->is_open());
  link->adopt(peer.take_other_end());
  for (std::size_t n : {2, 3, 4}) link->async_send_message(error_message(n));
  EXPECT_EQ((std::vector<std::size_t>{frame(1).size() + frame(2).size()}), link->batches);
  drain();
  EXPECT_EQ((std::vector<std::size_t>{frame(1).size() + frame(2).size(), frame(3).size() + frame(4).size()}),
            link->batches);
  EXPECT_EQ(2, link->after_write_calls);
  EXPECT_EQ(1, link->queue_empty_calls);
  std::string const all = frame(1) + frame(2) + frame(3) + frame(4);
  EXPECT_EQ(all, peer.read(all.size()));
  EXPECT_TRUE(link->errors.empty());
}

TEST_F(ipc_link_test, header_in_pieces_and_two_frames_in_one_read_arrive_whole_and_in_order) {
  auto link = make_link(peer);
  link->async_read_header();
  std::string const first = configd_peer_t::frame("first body");
  for (std::string const& piece : {first.substr(0, 2), first.substr(2, 3)}) {
    peer.send_raw(piece);
    drain();
  }
  EXPECT_TRUE(link->bodies.empty());
  peer.send_raw(first.substr(5) + configd_peer_t::frame("second") + configd_peer_t::frame("third"));
  drain();
  EXPECT_EQ((std::vector<std::string>{"first body", "second", "third"}), link->bodies);
  EXPECT_TRUE(link->errors.empty());
  EXPECT_FALSE(drain()) << "the link must keep reading";
}

TEST_F(ipc_link_test, frame_lengths_up_to_the_limit_pass_others_end_the_reading) {
  struct length_case {
    std::uint32_t length;
    std::size_t limit;
  };
  length_case const cases[] = {
      {16, 16}, {17, 16}, {0, production_limit}, {production_limit + 1, production_limit}, {0xffffffffu, 16}};
  for (length_case const& c : cases) {
    SCOPED_TRACE(c.length);
    configd_peer_t other;
    auto link = make_link(other, c.limit);
    link->async_read_header();
    bool const fits = c.length != 0 && c.length <= c.limit;
    std::string const body(fits ? c.length : 0, 'b');
    other.send_raw(le32(c.length) + body);
    bool const idle = drain();
    if (fits) {
      EXPECT_EQ(std::vector<std::string>{body}, link->bodies);
      EXPECT_TRUE(link->errors.empty());
      EXPECT_FALSE(idle) << "the link must keep reading";
    } else {
      EXPECT_EQ(std::vector<boost::system::error_code>{qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE)}, link->errors);
      EXPECT_TRUE(idle) << "no further read may be outstanding";
    }
    link->socket->close();
    drain();
  }
}

TEST_F(ipc_link_test, cancellation_and_completions_after_a_close_never_reach_the_derived_class) {
  auto link = make_link(peer);
  link->async_read_header();
  link->socket->cancel();
  EXPECT_TRUE(drain());
  EXPECT_TRUE(link->is_open());

  // Closed inside on_message: the second frame is not read.
  link->close_in_on_message = true;
  link->async_read_header();
  peer.send_raw(configd_peer_t::frame("one") + configd_peer_t::frame("two"));
  EXPECT_TRUE(drain());
  EXPECT_EQ((std::vector<std::string>{"one"}), link->bodies);
  EXPECT_TRUE(link->errors.empty());

  configd_peer_t other;
  auto closed = make_link(other);
  closed->async_read_header();
  closed->async_send_message(error_message(10));
  closed->socket->close();
  EXPECT_TRUE(drain());
  EXPECT_EQ(0, closed->after_write_calls);
  EXPECT_TRUE(closed->errors.empty());
}

TEST_F(ipc_link_test, peer_closing_before_or_within_a_frame_reports_end_of_file) {
  for (std::string const& sent : {std::string(), le32(10) + "abc"}) {
    configd_peer_t other;
    auto link = make_link(other);
    link->async_read_header();
    other.send_raw(sent);
    other.close_socket();
    EXPECT_TRUE(drain());
    ASSERT_EQ(1u, link->errors.size());
    EXPECT_EQ("End of file", link->errors[0].message());
    EXPECT_EQ(boost::asio::error::make_error_code(boost::asio::error::eof), link->errors[0]);
    EXPECT_TRUE(link->bodies.empty());
  }
}

TEST_F(ipc_link_test, write_failure_reaches_on_error) {
  auto link = make_link(peer);
  peer.close_socket();
  link->async_send_message(error_message(10));
  drain();
  ASSERT_EQ(1u, link->errors.size());
  EXPECT_TRUE(link->errors[0] == boost::system::errc::broken_pipe) << link->errors[0];
}

TEST_F(ipc_link_test, link_lives_until_its_last_completion) {
  std::shared_ptr<recording_link_t> link = make_link(peer);
  std::weak_ptr<recording_link_t> const weak = link;
  link->async_read_header();
  link.reset();
  peer.send_raw(configd_peer_t::frame("kept alive"));
  drain();
  link = weak.lock();
  ASSERT_TRUE(link);
  EXPECT_EQ((std::vector<std::string>{"kept alive"}), link->bodies);
}

}  // namespace
