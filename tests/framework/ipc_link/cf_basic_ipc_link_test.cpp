#include "framework/ipc_link/cf_basic_ipc_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"

namespace {

constexpr std::size_t production_limit = 67108864;

// A link that records what the base hands it.
class recording_link_t : public std::enable_shared_from_this<recording_link_t>, public cf_ipc_link_t {
 public:
  // Without a descriptor (fd -1) the link has no socket until `adopt`.
  recording_link_t(boost::asio::io_context& io, int fd, std::size_t limit) : cf_ipc_link_t(limit) {
    if (fd >= 0) adopt(io, fd);
  }

  void adopt(boost::asio::io_context& io, int fd) {
    socket = std::make_shared<cf_local_stream_socket_t>(io);
    socket->assign(boost::asio::local::stream_protocol(), fd);
  }

  std::vector<std::string> bodies;
  std::vector<int> blocks_per_body;
  std::vector<boost::system::error_code> errors;
  std::vector<std::size_t> batches;
  int after_write_calls = 0;
  int queue_empty_calls = 0;
  bool close_in_on_message = false;

  void close() { socket->close(); }
  void cancel() { socket->cancel(); }
  std::size_t pending_size() const { return pending_output.size; }
  std::size_t in_flight_size() const { return output_in_flight.size; }

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override {
    std::string body;
    void const* data = nullptr;
    int size = 0;
    int blocks = 0;
    while (stream->Next(&data, &size)) {
      body.append(static_cast<char const*>(data), static_cast<std::size_t>(size));
      ++blocks;
    }
    bodies.push_back(body);
    blocks_per_body.push_back(blocks);
    if (close_in_on_message) close();
  }
  void on_error(boost::system::error_code const& ec) override { errors.push_back(ec); }
  std::shared_ptr<cf_ipc_link_t> get_shared() override { return shared_from_this(); }
  void before_write() override { batches.push_back(output_in_flight.size); }
  void after_write() override { ++after_write_calls; }
  void on_write_queue_empty() override { ++queue_empty_calls; }
};

std::string le32(std::uint32_t n) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xff);
  return out;
}

std::string frame(std::string const& body) { return le32(static_cast<std::uint32_t>(body.size())) + body; }

class ipc_link_test : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    peer = fds[1];
    link_fd = fds[0];
  }
  void TearDown() override {
    if (peer >= 0) ::close(peer);
  }

  std::shared_ptr<recording_link_t> make_link(std::size_t limit = production_limit) {
    auto link = std::make_shared<recording_link_t>(io, link_fd, limit);
    link_fd = -1;
    return link;
  }

  void peer_write(std::string const& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(peer, bytes.data(), bytes.size()));
  }

  // Reads exactly n bytes from the peer end; fails the test instead of hanging.
  std::string peer_read(std::size_t n) {
    std::string out;
    while (out.size() < n) {
      pollfd p{peer, POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) {
        ADD_FAILURE() << "peer read stalled after " << out.size() << " of " << n << " bytes";
        return out;
      }
      char buf[65536];
      ssize_t got = ::read(peer, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) {
        ADD_FAILURE() << "peer read ended early";
        return out;
      }
      out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
  }

  bool peer_has_data() {
    pollfd p{peer, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }

  // Runs every ready handler; true when no operation is left outstanding.
  bool drain() {
    io.restart();
    io.poll();
    return io.stopped();
  }

  boost::asio::io_context io;
  int peer = -1;
  int link_fd = -1;
};

qn::Error make_error_message(std::size_t what_size) {
  qn::Error message;
  message.set_code(qn::EC_PROTOCOL_VIOLATION);
  message.set_what(std::string(what_size, 'w'));
  return message;
}

TEST_F(ipc_link_test, frame_is_little_endian_length_then_body) {
  auto link = make_link();
  qn::Error small;
  small.set_code(qn::EC_PROTOCOL_VIOLATION);
  small.set_what("x");
  link->async_send_message(small);
  drain();
  EXPECT_EQ(std::string("\x05\x00\x00\x00\x08\x0c\x12\x01x", 9), peer_read(9));

  // 305 = 0x131: the low byte comes first.
  qn::Error large = make_error_message(300);
  ASSERT_EQ(305u, large.ByteSizeLong());
  link->async_send_message(large);
  drain();
  std::string bytes = peer_read(4 + 305);
  EXPECT_EQ(std::string("\x31\x01\x00\x00", 4), bytes.substr(0, 4));
  EXPECT_EQ(large.SerializeAsString(), bytes.substr(4));
}

TEST_F(ipc_link_test, message_of_exactly_the_limit_is_sent_one_byte_more_throws) {
  std::size_t const limit = 200;
  auto link = make_link(limit);
  // Above 127 bytes the string's length takes two bytes: 2 + 1 + 2 + n.
  qn::Error fits = make_error_message(limit - 5);
  ASSERT_EQ(limit, fits.ByteSizeLong());
  qn::Error too_big = make_error_message(limit - 4);
  ASSERT_EQ(limit + 1, too_big.ByteSizeLong());

  link->async_send_message(fits);
  // The first frame is in flight; a second one waits in the pending output.
  link->async_send_message(fits);
  std::size_t const pending_before = link->pending_size();
  ASSERT_EQ(4 + limit, pending_before);
  try {
    link->async_send_message(too_big);
    FAIL() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), e.code());
    EXPECT_EQ(std::string("qn.Error"), e.code().category().name());
    EXPECT_EQ(0, std::string(e.what()).rfind("async_send_message", 0)) << e.what();
  }
  EXPECT_EQ(pending_before, link->pending_size());

  drain();
  std::string expected = frame(fits.SerializeAsString());
  EXPECT_EQ(expected + expected, peer_read(2 * expected.size()));
  drain();
  EXPECT_FALSE(peer_has_data());
}

TEST_F(ipc_link_test, frames_queued_during_a_write_leave_together_in_order) {
  auto link = make_link();
  qn::Error a = make_error_message(1), b = make_error_message(2), c = make_error_message(3);
  link->async_send_message(a);
  link->async_send_message(b);
  link->async_send_message(c);
  std::string fa = frame(a.SerializeAsString()), fb = frame(b.SerializeAsString()), fc = frame(c.SerializeAsString());
  ASSERT_EQ((std::vector<std::size_t>{fa.size()}), link->batches);
  EXPECT_EQ(fb.size() + fc.size(), link->pending_size());

  drain();
  EXPECT_EQ((std::vector<std::size_t>{fa.size(), fb.size() + fc.size()}), link->batches);
  EXPECT_EQ(2, link->after_write_calls);
  EXPECT_EQ(1, link->queue_empty_calls);
  EXPECT_EQ(0u, link->in_flight_size());
  EXPECT_EQ(0u, link->pending_size());
  EXPECT_EQ(fa + fb + fc, peer_read(fa.size() + fb.size() + fc.size()));
  EXPECT_TRUE(link->errors.empty());
}

TEST_F(ipc_link_test, frames_sent_without_a_socket_wait_for_the_next_send) {
  auto link = std::make_shared<recording_link_t>(io, -1, production_limit);
  qn::Error a = make_error_message(1), b = make_error_message(2);
  std::string fa = frame(a.SerializeAsString()), fb = frame(b.SerializeAsString());
  link->async_send_message(a);
  EXPECT_FALSE(link->is_open());
  EXPECT_EQ(fa.size(), link->pending_size());
  EXPECT_TRUE(link->batches.empty());

  link->adopt(io, link_fd);
  link_fd = -1;
  link->async_send_message(b);
  drain();
  EXPECT_EQ((std::vector<std::size_t>{fa.size() + fb.size()}), link->batches);
  EXPECT_EQ(fa + fb, peer_read(fa.size() + fb.size()));
}

TEST_F(ipc_link_test, header_in_pieces_and_two_frames_in_one_packet_arrive_whole_and_in_order) {
  auto link = make_link();
  link->async_read_header();
  std::string first = frame("first body");
  peer_write(first.substr(0, 2));
  drain();
  peer_write(first.substr(2, 3));
  drain();
  EXPECT_TRUE(link->bodies.empty());
  peer_write(first.substr(5));
  drain();
  ASSERT_EQ(1u, link->bodies.size());
  EXPECT_EQ("first body", link->bodies[0]);

  peer_write(frame("second") + frame("third"));
  drain();
  EXPECT_EQ((std::vector<std::string>{"first body", "second", "third"}), link->bodies);
  // The body comes in one piece, in place.
  EXPECT_EQ((std::vector<int>{1, 1, 1}), link->blocks_per_body);
  EXPECT_TRUE(link->errors.empty());
  EXPECT_FALSE(drain()) << "the link must keep reading";
}

TEST_F(ipc_link_test, body_of_exactly_the_limit_is_accepted) {
  auto link = make_link(16);
  link->async_read_header();
  peer_write(frame(std::string(16, 'b')));
  drain();
  ASSERT_EQ(1u, link->bodies.size());
  EXPECT_EQ(std::string(16, 'b'), link->bodies[0]);
  EXPECT_TRUE(link->errors.empty());
}

struct bad_length_case {
  char const* name;
  std::uint32_t length;
  std::size_t limit;
};

class ipc_link_bad_length_test : public ipc_link_test, public ::testing::WithParamInterface<bad_length_case> {};

TEST_P(ipc_link_bad_length_test, reports_bad_size_and_stops_reading) {
  auto link = make_link(GetParam().limit);
  link->async_read_header();
  peer_write(le32(GetParam().length));
  bool const idle = drain();
  ASSERT_EQ(1u, link->errors.size());
  EXPECT_EQ(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), link->errors[0]);
  EXPECT_TRUE(idle) << "no further read may be outstanding";
  peer_write(frame("late"));
  drain();
  EXPECT_TRUE(link->bodies.empty());
  EXPECT_EQ(1u, link->errors.size());
}

INSTANTIATE_TEST_SUITE_P(lengths, ipc_link_bad_length_test,
                         ::testing::Values(bad_length_case{"zero", 0, production_limit},
                                           bad_length_case{"one_above_limit", production_limit + 1, production_limit},
                                           bad_length_case{"one_above_small_limit", 17, 16},
                                           bad_length_case{"all_ones", 0xffffffffu, production_limit}),
                         [](::testing::TestParamInfo<bad_length_case> const& info) { return info.param.name; });

TEST_F(ipc_link_test, closing_inside_on_message_stops_reading) {
  auto link = make_link();
  link->close_in_on_message = true;
  link->async_read_header();
  peer_write(frame("one") + frame("two"));
  EXPECT_TRUE(drain());
  EXPECT_EQ((std::vector<std::string>{"one"}), link->bodies);
  EXPECT_TRUE(link->errors.empty());
  EXPECT_FALSE(link->is_open());
}

TEST_F(ipc_link_test, peer_closing_reports_end_of_file) {
  auto link = make_link();
  link->async_read_header();
  ::close(peer);
  peer = -1;
  EXPECT_TRUE(drain());
  ASSERT_EQ(1u, link->errors.size());
  EXPECT_EQ(boost::asio::error::make_error_code(boost::asio::error::eof), link->errors[0]);
  EXPECT_EQ("End of file", link->errors[0].message());
}

TEST_F(ipc_link_test, peer_closing_mid_body_reports_end_of_file) {
  auto link = make_link();
  link->async_read_header();
  peer_write(le32(10) + "abc");
  ::close(peer);
  peer = -1;
  EXPECT_TRUE(drain());
  ASSERT_EQ(1u, link->errors.size());
  EXPECT_EQ(boost::asio::error::make_error_code(boost::asio::error::eof), link->errors[0]);
  EXPECT_TRUE(link->bodies.empty());
}

TEST_F(ipc_link_test, cancelled_read_never_reaches_on_error) {
  auto link = make_link();
  link->async_read_header();
  link->cancel();
  EXPECT_TRUE(drain());
  EXPECT_TRUE(link->errors.empty());
  EXPECT_TRUE(link->is_open());
}

TEST_F(ipc_link_test, completions_after_close_do_nothing) {
  auto link = make_link();
  link->async_read_header();
  link->async_send_message(make_error_message(10));
  link->close();
  EXPECT_TRUE(drain());
  EXPECT_TRUE(link->errors.empty());
  EXPECT_EQ(0, link->after_write_calls);
}

TEST_F(ipc_link_test, write_failure_reaches_on_error) {
  auto link = make_link();
  ::close(peer);
  peer = -1;
  link->async_send_message(make_error_message(10));
  drain();
  ASSERT_EQ(1u, link->errors.size());
  EXPECT_TRUE(link->errors[0] == boost::system::errc::broken_pipe) << link->errors[0];
}

TEST_F(ipc_link_test, link_lives_until_its_last_completion) {
  std::weak_ptr<recording_link_t> weak;
  {
    auto link = make_link();
    link->async_read_header();
    weak = link;
  }
  EXPECT_FALSE(weak.expired());
  peer_write(frame("kept alive"));
  drain();
  auto link = weak.lock();
  ASSERT_TRUE(link);
  EXPECT_EQ((std::vector<std::string>{"kept alive"}), link->bodies);
}

typedef cf_ipc_link_t::buffer_t buffer_t;

TEST(ipc_link_buffer, grows_by_half_and_never_shrinks) {
  struct step {
    std::size_t resize_to;
    std::size_t capacity;
  };
  // The first allocation is exact; later ones take max(capacity * 1.5, n).
  step const steps[] = {{0, 0}, {10, 10}, {12, 15}, {15, 15}, {16, 22}, {3, 22}, {23, 33}, {100, 100}, {101, 150}};
  buffer_t buffer;
  EXPECT_EQ(nullptr, buffer.data.get());
  for (step const& s : steps) {
    buffer.resize(s.resize_to);
    EXPECT_EQ(s.capacity, buffer.capacity) << "after resize to " << s.resize_to;
    EXPECT_EQ(s.resize_to, buffer.size);
  }
  buffer.clear();
  EXPECT_EQ(0u, buffer.size);
  EXPECT_EQ(150u, buffer.capacity);
}

TEST(ipc_link_buffer, growth_keeps_contents_unless_discarded) {
  buffer_t buffer;
  buffer.resize(4);
  std::memcpy(buffer.data.get(), "abcd", 4);
  buffer.resize(2);
  buffer.resize(40);  // keeps min(40, 2) bytes
  EXPECT_EQ("ab", std::string(reinterpret_cast<char*>(buffer.data.get()), 2));

  buffer_t other;
  other.resize(4);
  std::memcpy(other.data.get(), "wxyz", 4);
  other.resize(8);
  EXPECT_EQ("wxyz", std::string(reinterpret_cast<char*>(other.data.get()), 4));
  std::uint8_t* before = other.data.get();
  other.resize(8, true);  // no growth: same array
  EXPECT_EQ(before, other.data.get());
}

}  // namespace
