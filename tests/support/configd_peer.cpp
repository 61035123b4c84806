#include "tests/support/configd_peer.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

#include "framework/util/cf_io.h"

configd_peer_t::configd_peer_t() {
  int pair[2];
  EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair)) << std::strerror(errno);
  socket_fd = pair[0];
  other_fd = pair[1];
  timeval const stall{test_child_t::stall_ms / 1000, 0};  // a read that stalls fails
  ::setsockopt(socket_fd, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);
  // Writing to a program that has gone must fail, not end the test process.
  ::signal(SIGPIPE, SIG_IGN);
}

configd_peer_t::configd_peer_t(std::vector<std::string> argv, char const* monitor, int child_fd) : configd_peer_t() {
  std::vector<std::string> add;
  if (monitor) add.push_back(std::string("COM_QUARN_MONITOR=") + monitor);
  child.reset(new test_child_t(std::move(argv), test_child_t::environment({"COM_QUARN_"}, add), monitor ? other_fd : -1,
                               child_fd));
  ::close(take_other_end());
}

configd_peer_t::~configd_peer_t() {
  child.reset();
  for (int fd : {socket_fd, other_fd}) ::close(fd);  // -1 for one taken or closed
}

int configd_peer_t::take_other_end() { return std::exchange(other_fd, -1); }

// Up to `size` bytes, fewer only at the end of the stream; -1 after a stall.
long configd_peer_t::fill(char* data, std::size_t size) {
  std::size_t done = 0;
  for (ssize_t got = 1; done < size && got != 0; done += got > 0 ? got : 0)
    if ((got = ::recv(socket_fd, data + done, size - done, 0)) < 0 && errno != EINTR) return -1;
  return static_cast<long>(done);
}

std::string configd_peer_t::read(std::size_t size) {
  std::string out(size, '\0');
  long const got = fill(&out[0], size);
  if (got != static_cast<long>(size)) {
    ADD_FAILURE() << (got < 0 ? "no data from the other end" : "the other end closed");
    out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  }
  return out;
}

qn::SMBGardix2ConfigdMessage configd_peer_t::receive() {
  qn::SMBGardix2ConfigdMessage message;
  std::string const header = read(4) + std::string(4, '\0');  // zeros after a failed read
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(header[i]);
  if (!message.ParseFromString(read(n))) ADD_FAILURE() << "a frame that does not parse";
  return message;
}

qn::SMBGardix2ConfigdMessage configd_peer_t::expect(qn::SMBGardix2ConfigdMessage::MessageTag tag) {
  qn::SMBGardix2ConfigdMessage message = receive();
  EXPECT_EQ(qn::SMBGardix2ConfigdMessage::MessageTag_Name(tag),
            qn::SMBGardix2ConfigdMessage::MessageTag_Name(message.tag()))
      << message.ShortDebugString();
  return message;
}

bool configd_peer_t::has_data() {
  pollfd p{socket_fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

bool configd_peer_t::at_end() {
  char byte;
  long const got = fill(&byte, 1);
  if (got < 0) ADD_FAILURE() << "the other end neither sent nor closed";
  return got == 0;
}

void configd_peer_t::send(qn::Configd2SMBGardixMessage const& message) { send_raw(frame(message.SerializeAsString())); }

void configd_peer_t::send_raw(std::string const& bytes) {
  boost::system::error_code ec;
  cf_write_all(socket_fd, bytes.data(), bytes.size(), ec);
  EXPECT_FALSE(ec) << ec.message();
}

void configd_peer_t::close_socket() { ::close(std::exchange(socket_fd, -1)); }

qn::Configd2SMBGardixMessage configd_peer_t::fcheck_response(std::string const& path) {
  qn::Configd2SMBGardixMessage message;
  message.set_tag(qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE), message.set_uid(::getuid());
  return message.set_socket_path(path), message;
}

qn::Configd2SMBGardixMessage configd_peer_t::config_response(std::uint32_t revision, qn::SMBGardixConfig const& config,
                                                             bool suspended, bool with_control) {
  qn::Configd2SMBGardixMessage message;
  message.set_tag(qn::Configd2SMBGardixMessage::GET_CONFIG_RESPONSE);
  message.set_config_revision(revision);
  message.mutable_config()->CopyFrom(config);
  if (suspended || with_control) {
    message.mutable_control()->set_app(qn::APP_SMB_GARDIX);
    message.mutable_control()->set_suspended(suspended);
  }
  return message;
}

qn::SMBGardixConfig configd_peer_t::stderr_config(qn::LogLevel level) {
  qn::SMBGardixConfig config;
  config.set_log_level(level);
  config.mutable_actual_log()->set_type(qn::Log::STDERR);
  // The daemon listens for VFS modules at every configuration; each test gets a socket of its own.
  static int serial = 0;
  config.set_smb_socket_path("tmp/qn-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".sock");
  return config;
}
