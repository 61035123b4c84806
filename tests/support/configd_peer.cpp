#include "tests/support/configd_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

// Descriptors above the ones the child arranges, so that no dup2 clobbers another.
constexpr int spare_fd_base = 64;

}  // namespace

configd_peer_t::configd_peer_t(std::string const& program, std::string const& monitor, int child_fd) {
  start(program, monitor, child_fd);
}

configd_peer_t::configd_peer_t(std::string const& program) { start(program, "3", 3); }

configd_peer_t::~configd_peer_t() {
  if (child > 0) {
    ::kill(child, SIGKILL);
    int ignored;
    ::waitpid(child, &ignored, 0);
  }
  if (socket_fd >= 0) ::close(socket_fd);
  if (stderr_fd >= 0) ::close(stderr_fd);
}

void configd_peer_t::start(std::string const& program, std::string const& monitor, int child_fd) {
  int pair[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair)) << std::strerror(errno);
  int err[2];
  ASSERT_EQ(0, ::pipe2(err, O_CLOEXEC)) << std::strerror(errno);
  int const null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  ASSERT_GE(null_fd, 0);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    if (entry.rfind("COM_QUARN_", 0) == 0) continue;
    env.push_back(entry);
  }
  env.push_back("COM_QUARN_MONITOR=" + monitor);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  std::string program_copy = program;
  char* argv[] = {&program_copy[0], nullptr};

  pid_t const pid = ::fork();
  ASSERT_GE(pid, 0) << std::strerror(errno);
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    int const sock = ::fcntl(pair[1], F_DUPFD_CLOEXEC, spare_fd_base);
    int const err_w = ::fcntl(err[1], F_DUPFD_CLOEXEC, spare_fd_base);
    int const devnull = ::fcntl(null_fd, F_DUPFD_CLOEXEC, spare_fd_base);
    if (sock < 0 || err_w < 0 || devnull < 0) ::_exit(126);
    if (::dup2(devnull, 0) < 0 || ::dup2(devnull, 1) < 0 || ::dup2(err_w, 2) < 0) ::_exit(126);
    if (::dup2(sock, child_fd) < 0) ::_exit(126);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  child = pid;
  ::close(pair[1]);
  ::close(err[1]);
  ::close(null_fd);
  socket_fd = pair[0];
  stderr_fd = err[0];
  // The daemon ignores SIGPIPE itself; the test process must not die writing to a daemon that has gone.
  ::signal(SIGPIPE, SIG_IGN);
}

bool configd_peer_t::read_exact(char* data, std::size_t size, bool quiet_at_end) {
  std::size_t done = 0;
  while (done < size) {
    pollfd p{socket_fd, POLLIN, 0};
    int const ready = ::poll(&p, 1, stall_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) {
      ADD_FAILURE() << "no data from the daemon";
      return false;
    }
    ssize_t const got = ::read(socket_fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (!(quiet_at_end && done == 0)) ADD_FAILURE() << "the daemon closed its end";
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool configd_peer_t::receive(qn::SMBGardix2ConfigdMessage& message) {
  unsigned char header[4];
  if (!read_exact(reinterpret_cast<char*>(header), 4, false)) return false;
  std::uint32_t const n = header[0] | (header[1] << 8) | (header[2] << 16) | (std::uint32_t(header[3]) << 24);
  std::string body(n, '\0');
  if (n != 0 && !read_exact(&body[0], n, false)) return false;
  if (!message.ParseFromString(body)) {
    ADD_FAILURE() << "a frame that does not parse";
    return false;
  }
  return true;
}

qn::SMBGardix2ConfigdMessage configd_peer_t::expect(qn::SMBGardix2ConfigdMessage::MessageTag tag) {
  qn::SMBGardix2ConfigdMessage message;
  if (receive(message)) {
    EXPECT_EQ(qn::SMBGardix2ConfigdMessage::MessageTag_Name(tag),
              qn::SMBGardix2ConfigdMessage::MessageTag_Name(message.tag()))
        << message.ShortDebugString();
  }
  return message;
}

bool configd_peer_t::at_end() {
  char byte;
  return !read_exact(&byte, 1, true);
}

void configd_peer_t::send(qn::Configd2SMBGardixMessage const& message) { send_raw(frame(message.SerializeAsString())); }

void configd_peer_t::send_raw(std::string const& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t const put = ::write(socket_fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    ASSERT_GT(put, 0) << std::strerror(errno);
    done += static_cast<std::size_t>(put);
  }
}

void configd_peer_t::close_socket() {
  if (socket_fd >= 0) ::close(socket_fd);
  socket_fd = -1;
}

void configd_peer_t::signal(int signal_number) { ASSERT_EQ(0, ::kill(child, signal_number)); }

void configd_peer_t::drain_stderr(int timeout_ms) {
  while (stderr_fd >= 0) {
    pollfd p{stderr_fd, POLLIN, 0};
    int const ready = ::poll(&p, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) return;
    char buf[4096];
    ssize_t const got = ::read(stderr_fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(stderr_fd);
      stderr_fd = -1;
      return;
    }
    stderr_text.append(buf, static_cast<std::size_t>(got));
  }
}

int configd_peer_t::wait() {
  if (child <= 0) return status;
  drain_stderr(stall_ms);
  if (stderr_fd >= 0) {
    ADD_FAILURE() << "the daemon did not exit";
    ::kill(child, SIGKILL);
  }
  int raw = 0;
  while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
  }
  child = -1;
  drain_stderr(0);
  if (WIFEXITED(raw))
    status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw))
    status = 128 + WTERMSIG(raw);
  return status;
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
  return config;
}

std::string configd_peer_t::frame(std::string const& body) {
  std::uint32_t const n = static_cast<std::uint32_t>(body.size());
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
  return out + body;
}
