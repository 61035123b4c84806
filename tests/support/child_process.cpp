#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

extern char** environ;

test_child_t::test_child_t(std::vector<std::string> argv, std::vector<std::string> env, int pass_fd, int as_fd) {
  // Built before the fork: the child of a threaded process must not allocate.
  std::vector<char*> args, envp;
  for (std::string& arg : argv) args.push_back(&arg[0]);
  for (std::string& entry : env) envp.push_back(&entry[0]);
  args.push_back(nullptr);
  envp.push_back(nullptr);
  start([&] { ::execve(args[0], args.data(), envp.data()); }, pass_fd, as_fd);
}

test_child_t::test_child_t(std::function<void()> const& body) {
  start(
      [&] {
        try {
          body();
        } catch (std::exception const& e) {
          std::fprintf(stderr, "EXCEPTION: %s\n", e.what());
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
  ASSERT_TRUE(::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0 && null_fd >= 0) << std::strerror(errno);
  // Writing to a child that has gone must fail, not end the test process.
  ::signal(SIGPIPE, SIG_IGN);
  std::fflush(nullptr);
  child = ::fork();
  if (child < 0) ADD_FAILURE() << std::strerror(errno);
  if (child == 0) {
    // The passed descriptor moves above the target numbers first, so that no dup2 clobbers it.
    int const pass = pass_fd >= 0 ? ::fcntl(pass_fd, F_DUPFD_CLOEXEC, 64) : -1;
    if (::dup2(null_fd, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0 ||
        (pass_fd >= 0 && (pass < 0 || ::dup2(pass, as_fd) < 0)))
      ::_exit(126);
    ::signal(SIGPIPE, SIG_DFL);
    in_child();
    ::_exit(127);
  }
  for (int fd : {out[1], err[1], null_fd}) ::close(fd);
  out_fd = out[0];
  err_fd = err[0];
}

test_child_t::~test_child_t() {
  if (child > 0) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
  for (int fd : {out_fd, err_fd}) ::close(fd);  // -1 for a stream read to its end
}

void test_child_t::signal(int signal_number) { EXPECT_TRUE(child > 0 && ::kill(child, signal_number) == 0); }

// Takes what the child wrote; false after a stall or once both streams ended.
bool test_child_t::pump() {
  if (out_fd < 0 && err_fd < 0) return false;
  pollfd p[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int const ready = ::poll(p, 2, stall_ms);
  if (ready <= 0) return ready < 0 && errno == EINTR;
  std::pair<int*, std::string*> const streams[] = {{&out_fd, &out_text}, {&err_fd, &err_text}};
  for (int i = 0; i < 2; ++i) {
    if (*streams[i].first < 0 || p[i].revents == 0) continue;
    char buf[4096];
    ssize_t const got = ::read(*streams[i].first, buf, sizeof buf);
    if (got > 0)
      streams[i].second->append(buf, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR)
      ::close(std::exchange(*streams[i].first, -1));
  }
  return true;
}

std::string test_child_t::next_line() {
  std::size_t end;
  while ((end = out_text.find('\n')) == std::string::npos) {
    bool const stalled = out_fd >= 0 && !pump();
    if (stalled) ADD_FAILURE() << "no output from the child";
    if (stalled || out_fd < 0) return std::string();
  }
  std::string line = out_text.substr(0, end);
  out_text.erase(0, end + 1);
  return line;
}

int test_child_t::wait() {
  if (child <= 0) return -1;
  while ((out_fd >= 0 || err_fd >= 0) && pump()) continue;
  if (out_fd >= 0 || err_fd >= 0) {
    ADD_FAILURE() << "the child did not exit";
    ::kill(child, SIGKILL);
  }
  int raw = 0;
  while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) continue;
  child = -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::vector<std::string> test_child_t::environment(std::vector<std::string> const& drop,
                                                   std::vector<std::string> const& add) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::none_of(drop.begin(), drop.end(), [e](std::string const& p) { return std::string(*e).rfind(p, 0) == 0; }))
      env.push_back(*e);
  env.insert(env.end(), add.begin(), add.end());
  return env;
}

static test_run_t finish(test_child_t&& child) { return {child.wait(), child.out(), child.err()}; }

test_run_t run_child(std::function<void()> const& body) { return finish(test_child_t(body)); }

test_run_t run_program(std::vector<std::string> const& argv, std::vector<std::string> const& env) {
  return finish(test_child_t(argv, env));
}
