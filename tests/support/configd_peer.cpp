#include "tests/support/configd_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

extern char** environ;

configd_peer_t::configd_peer_t() {
  int pair[2];
  EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair)) << std::strerror(errno);
  socket_fd = pair[0];
  other_fd = pair[1];
  // Writing to a program that has gone must fail, not end the test process.
  ::signal(SIGPIPE, SIG_IGN);
}

configd_peer_t::configd_peer_t(std::vector<std::string> argv, char const* monitor, int child_fd) : configd_peer_t() {
  int out[2], err[2];
  int const null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || null_fd < 0) {
    ADD_FAILURE() << std::strerror(errno);
    return;
  }

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "COM_QUARN_", 10) != 0) env.push_back(*e);
  if (monitor) env.push_back(std::string("COM_QUARN_MONITOR=") + monitor);
  std::vector<char*> envp, args;
  for (std::string& entry : env) envp.push_back(&entry[0]);
  for (std::string& arg : argv) args.push_back(&arg[0]);
  envp.push_back(nullptr);
  args.push_back(nullptr);

  child = ::fork();
  if (child < 0) ADD_FAILURE() << std::strerror(errno);
  if (child == 0) {
    // Only async-signal-safe calls from here on. Everything moves above the
    // descriptors being arranged first, so that no dup2 clobbers another.
    int const sock = ::fcntl(other_fd, F_DUPFD_CLOEXEC, 64);
    int const out_w = ::fcntl(out[1], F_DUPFD_CLOEXEC, 64);
    int const err_w = ::fcntl(err[1], F_DUPFD_CLOEXEC, 64);
    int const devnull = ::fcntl(null_fd, F_DUPFD_CLOEXEC, 64);
    if (sock < 0 || out_w < 0 || err_w < 0 || devnull < 0) ::_exit(126);
    if (::dup2(devnull, 0) < 0 || ::dup2(out_w, 1) < 0 || ::dup2(err_w, 2) < 0) ::_exit(126);
    if (monitor && ::dup2(sock, child_fd) < 0) ::_exit(126);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(take_other_end());
  ::close(out[1]);
  ::close(err[1]);
  ::close(null_fd);
  out_fd = out[0];
  err_fd = err[0];
}

configd_peer_t::~configd_peer_t() {
  if (child > 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  for (int fd : {socket_fd, other_fd, out_fd, err_fd})
    if (fd >= 0) ::close(fd);
}

int configd_peer_t::take_other_end() {
  int const fd = other_fd;
  other_fd = -1;
  return fd;
}

// Up to `size` bytes, fewer only at the end of the stream; -1 after a stall.
long configd_peer_t::fill(char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    pollfd p{socket_fd, POLLIN, 0};
    int const ready = ::poll(&p, 1, stall_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) return -1;
    ssize_t const got = ::read(socket_fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
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
  std::string const header = read(4);
  if (header.size() != 4) return message;
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

void configd_peer_t::signal(int signal_number) {
  ASSERT_GT(child, 0) << "no program";
  ASSERT_EQ(0, ::kill(child, signal_number));
}

// Takes what the program wrote; false after a stall or once both streams ended.
bool configd_peer_t::pump() {
  if (out_fd < 0 && err_fd < 0) return false;
  pollfd p[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int const ready = ::poll(p, 2, stall_ms);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return false;
  int* const fds[2] = {&out_fd, &err_fd};
  std::string* const texts[2] = {&out_text, &err_text};
  for (int i = 0; i < 2; ++i) {
    if (*fds[i] < 0 || p[i].revents == 0) continue;
    char buf[4096];
    ssize_t const got = ::read(*fds[i], buf, sizeof buf);
    if (got > 0) {
      texts[i]->append(buf, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      ::close(*fds[i]);
      *fds[i] = -1;
    }
  }
  return true;
}

std::string configd_peer_t::next_line() {
  std::size_t end;
  while ((end = out_text.find('\n')) == std::string::npos) {
    if (out_fd < 0) return std::string();
    if (!pump()) {
      ADD_FAILURE() << "no output from the program";
      return std::string();
    }
  }
  std::string line = out_text.substr(0, end);
  out_text.erase(0, end + 1);
  return line;
}

int configd_peer_t::wait() {
  if (child <= 0) return -1;
  while (out_fd >= 0 || err_fd >= 0) {
    if (!pump()) {
      ADD_FAILURE() << "the program did not exit";
      ::kill(child, SIGKILL);
      break;
    }
  }
  int raw = 0;
  while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
  }
  child = -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::string configd_peer_t::frame(std::string const& body) {
  std::uint32_t const n = static_cast<std::uint32_t>(body.size());
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
  return out + body;
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
