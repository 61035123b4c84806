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

qn::Error message(std::size_t what_size) {
  qn::Error m;
  m.set_code(qn::EC_PROTOCOL_VIOLATION);
  m.set_what(std::string(what_size, 'w'));
  return m;
}

std::string frame(std::size_t what_size) { return configd_peer_t::frame(message(what_size).SerializeAsString()); }

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

TEST_F(ipc_link_test, message_of_exactly_the_limit_is_sent_one_byte_more_throws_and_queues_nothing) {
  std::size_t const limit = 300;  // 0x12c: both length bytes differ from zero
  auto link = make_link(peer, limit);
  ASSERT_EQ(limit, message(limit - 5).ByteSizeLong());  // 2 + 1 + 2 + n
  link->async_send_message(message(limit - 5));
  link->async_send_message(message(limit - 5));  // waits in the pending output
  ASSERT_EQ(4 + limit, link->pending_output.size);
  try {
    link->async_send_message(message(limit - 4));
    FAIL() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), e.code());
    EXPECT_EQ(0u, std::string(e.what()).rfind("async_send_message", 0)) << e.what();
  }
  EXPECT_EQ(4 + limit, link->pending_output.size);
  drain();
  EXPECT_EQ(std::string("\x2c\x01\x00\x00", 4), frame(limit - 5).substr(0, 4));
  EXPECT_EQ(frame(limit - 5) + frame(limit - 5), peer.read(2 * (4 + limit)));
  drain();
  EXPECT_FALSE(peer.has_data());
}

TEST_F(ipc_link_test, frames_wait_for_a_socket_and_for_the_write_under_way_then_leave_together_in_order) {
  auto link = std::make_shared<recording_link_t>(io, production_limit);
  link->async_send_message(message(1));
  EXPECT_FALSE(link->is_open());
  link->adopt(peer.take_other_end());
  for (std::size_t n : {2, 3, 4}) link->async_send_message(message(n));
  std::size_t const first = frame(1).size() + frame(2).size(), second = frame(3).size() + frame(4).size();
  EXPECT_EQ((std::vector<std::size_t>{first}), link->batches);
  drain();
  EXPECT_EQ((std::vector<std::size_t>{first, second}), link->batches);
  EXPECT_EQ(2, link->after_write_calls);
  EXPECT_EQ(1, link->queue_empty_calls);
  std::string const all = frame(1) + frame(2) + frame(3) + frame(4);
  EXPECT_EQ(all, peer.read(all.size()));
  EXPECT_TRUE(link->errors.empty());
}

// The link also lives until its last completion.
TEST_F(ipc_link_test, header_in_pieces_and_three_frames_in_one_read_arrive_whole_and_in_order) {
  auto link = make_link(peer);
  link->async_read_header();
  std::weak_ptr<recording_link_t> const weak = link;
  link.reset();
  std::string const first = configd_peer_t::frame("first body");
  for (std::string const& piece : {first.substr(0, 2), first.substr(2, 3)}) {
    peer.send_raw(piece);
    drain();
  }
  ASSERT_TRUE(weak.lock() && weak.lock()->bodies.empty());
  peer.send_raw(first.substr(5) + configd_peer_t::frame("second") + configd_peer_t::frame("third"));
  EXPECT_FALSE(drain()) << "the link must keep reading";
  link = weak.lock();
  EXPECT_EQ((std::vector<std::string>{"first body", "second", "third"}), link->bodies);
  EXPECT_TRUE(link->errors.empty());
}

TEST_F(ipc_link_test, frame_lengths_up_to_the_limit_pass_others_end_the_reading) {
  struct row_t {
    std::uint32_t length;
    std::size_t limit;
  };
  for (row_t const& c : {row_t{16, 16}, row_t{17, 16}, row_t{0, production_limit},
                         row_t{production_limit + 1, production_limit}, row_t{0xffffffffu, 16}}) {
    SCOPED_TRACE(c.length);
    configd_peer_t other;
    auto link = make_link(other, c.limit);
    link->async_read_header();
    bool const fits = c.length != 0 && c.length <= c.limit;
    std::string const body(fits ? c.length : 0, 'b');
    other.send_raw(le32(c.length) + body);
    EXPECT_EQ(!fits, drain()) << "only a good frame leaves a read outstanding";
    EXPECT_EQ(fits ? std::vector<std::string>{body} : std::vector<std::string>{}, link->bodies);
    EXPECT_EQ(fits ? std::vector<boost::system::error_code>{}
                   : std::vector<boost::system::error_code>{qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE)},
              link->errors);
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
  link->close_in_on_message = true;  // the second frame is not read
  link->async_read_header();
  peer.send_raw(configd_peer_t::frame("one") + configd_peer_t::frame("two"));
  EXPECT_TRUE(drain());
  EXPECT_EQ((std::vector<std::string>{"one"}), link->bodies);

  configd_peer_t other;
  auto closed = make_link(other);
  closed->async_read_header();
  closed->async_send_message(message(10));
  closed->socket->close();
  EXPECT_TRUE(drain());
  EXPECT_EQ(0, closed->after_write_calls);
  EXPECT_TRUE(closed->errors.empty() && link->errors.empty());
}

}  // namespace
