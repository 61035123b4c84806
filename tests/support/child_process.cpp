#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include <gtest/gtest.h>

extern char** environ;

namespace {

void write_err(std::string const& text) { (void)!::write(2, text.data(), text.size()); }

}  // namespace

test_child_t::test_child_t(std::vector<std::string> argv, std::vector<std::string> env, int pass_fd, int as_fd) {
  // Built before the fork: the child of a threaded process must not allocate.
  std::vector<char*> args, envp;
  for (std::string& arg : argv) args.push_back(&arg[0]);
  for (std::string& entry : env) envp.push_back(&entry[0]);
  args.push_back(nullptr);
  envp.push_back(nullptr);
  start(
      [&] {
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
      },
      pass_fd, as_fd);
}

test_child_t::test_child_t(std::function<void()> const& body) {
  start(
      [&] {
        try {
          body();
        } catch (std::exception const& e) {
          write_err(std::string("EXCEPTION: ") + e.what() + "\n");
          ::_exit(99);
        } catch (...) {
          ::_exit(98);
        }
        std::fflush(nullptr);
        ::_exit(0);
      },
      -1, -1);
}

void test_child_t::start(std::function<void()> const& in_child, int pass_fd, int as_fd) {
  int out[2], err[2];
  int const null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || null_fd < 0) {
    ADD_FAILURE() << std::strerror(errno);
    return;
  }
  // Writing to a child that has gone must fail, not end the test process.
  ::signal(SIGPIPE, SIG_IGN);
  std::fflush(nullptr);
  child = ::fork();
  if (child < 0) ADD_FAILURE() << std::strerror(errno);
  if (child == 0) {
    // Everything moves above the target numbers first, so that no dup2 clobbers another.
    int const pass = pass_fd >= 0 ? ::fcntl(pass_fd, F_DUPFD_CLOEXEC, 64) : -1;
    int const out_w = ::fcntl(out[1], F_DUPFD_CLOEXEC, 64);
    int const err_w = ::fcntl(err[1], F_DUPFD_CLOEXEC, 64);
    int const devnull = ::fcntl(null_fd, F_DUPFD_CLOEXEC, 64);
    if (out_w < 0 || err_w < 0 || devnull < 0 || (pass_fd >= 0 && pass < 0)) ::_exit(126);
    if (::dup2(devnull, 0) < 0 || ::dup2(out_w, 1) < 0 || ::dup2(err_w, 2) < 0) ::_exit(126);
    if (pass >= 0 && ::dup2(pass, as_fd) < 0) ::_exit(126);
    ::signal(SIGPIPE, SIG_DFL);
    in_child();
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ::close(null_fd);
  out_fd = out[0];
  err_fd = err[0];
}

test_child_t::~test_child_t() {
  if (child > 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  for (int fd : {out_fd, err_fd})
    if (fd >= 0) ::close(fd);
}

void test_child_t::signal(int signal_number) {
  ASSERT_GT(child, 0) << "no child";
  ASSERT_EQ(0, ::kill(child, signal_number));
}

// Takes what the child wrote; false after a stall or once both streams ended.
bool test_child_t::pump() {
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

std::string test_child_t::next_line() {
  std::size_t end;
  while ((end = out_text.find('\n')) == std::string::npos) {
    if (out_fd < 0) return std::string();
    if (!pump()) {
      ADD_FAILURE() << "no output from the child";
      return std::string();
    }
  }
  std::string line = out_text.substr(0, end);
  out_text.erase(0, end + 1);
  return line;
}

int test_child_t::wait() {
  if (child <= 0) return -1;
  while (out_fd >= 0 || err_fd >= 0) {
    if (!pump()) {
      ADD_FAILURE() << "the child did not exit";
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

std::vector<std::string> test_child_t::environment(std::vector<std::string> const& drop,
                                                   std::vector<std::string> const& add) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool keep = true;
    for (std::string const& prefix : drop) keep = keep && std::strncmp(*e, prefix.c_str(), prefix.size()) != 0;
    if (keep) env.push_back(*e);
  }
  env.insert(env.end(), add.begin(), add.end());
  return env;
}

namespace {

test_run_t finish(test_child_t& child) {
  int const status = child.wait();
  return test_run_t{status, child.out(), child.err()};
}

}  // namespace

test_run_t run_child(std::function<void()> const& body) {
  test_child_t child(body);
  return finish(child);
}

test_run_t run_program(std::vector<std::string> const& argv, std::vector<std::string> const& env) {
  test_child_t child(argv, env);
  return finish(child);
}
