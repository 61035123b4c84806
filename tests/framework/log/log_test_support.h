#pragma once

// Helpers for tests of the process log: a recording sink, a sandbox folder,
// standard-error capture and running a piece of code in a child process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/log/cf_log.h"

namespace log_test {

// Records every sink call as a line of text into a shared list.
class recording_log_t : public cf_log_t {
 public:
  explicit recording_log_t(std::shared_ptr<std::vector<std::string>> events, std::string name = "sink",
                           callback_t const& additional_log = callback_t(),
                           callback_t const& additional_tagged_log = callback_t())
      : cf_log_t(additional_log, additional_tagged_log), events_(std::move(events)), name_(std::move(name)) {}
  ~recording_log_t() override { events_->push_back(name_ + " closed"); }

  void open() override { events_->push_back(name_ + " open"); }
  void write(int level, std::string const& text) override {
    events_->push_back(name_ + " write " + std::to_string(level) + " " + text);
  }
  void write_tagged(std::string const& tag, int n, std::string const& text) override {
    events_->push_back(name_ + " tagged " + tag + " " + std::to_string(n) + " " + text);
  }
  void out_of_memory() override { events_->push_back(name_ + " out of memory"); }

 private:
  std::shared_ptr<std::vector<std::string>> events_;
  std::string name_;
};

// A sink whose writes throw: std::bad_alloc when out_of_memory is set, else
// the error of a time stamp that cannot be made. Its out_of_memory writes
// "sink out of memory" on descriptor 2.
class failing_log_t : public cf_log_t {
 public:
  explicit failing_log_t(bool out_of_memory) : cf_log_t(callback_t(), callback_t()), out_of_memory_(out_of_memory) {}

  void open() override {}
  void write(int, std::string const&) override { fail(); }
  void write_tagged(std::string const&, int, std::string const&) override { fail(); }
  void out_of_memory() override { cf_log_write_string(2, "sink out of memory\n"); }

 private:
  void fail() {
    if (out_of_memory_) throw std::bad_alloc();
    throw std::runtime_error("could not convert calendar time to local time");
  }
  bool out_of_memory_;
};

inline std::shared_ptr<std::vector<std::string>> make_events() { return std::make_shared<std::vector<std::string>>(); }

// A folder of its own under /tmp, removed with everything in it.
class sandbox_t {
 public:
  sandbox_t() {
    char pattern[] = "/tmp/qn-log-test-XXXXXX";
    char* made = ::mkdtemp(pattern);
    if (!made) std::abort();
    path_ = made;
  }
  ~sandbox_t() {
    std::string const command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
    }
  }
  std::string const& path() const { return path_; }
  std::string file(std::string const& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string read_fd_to_end(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t const n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return text;
}

inline std::string read_file(std::string const& path) {
  int const fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return std::string();
  std::string text = read_fd_to_end(fd);
  ::close(fd);
  return text;
}

// Sends descriptor 2 into a file until text() or destruction.
class stderr_capture_t {
 public:
  stderr_capture_t() : path_(sandbox_.file("stderr")) {
    int const fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    saved_ = ::dup(2);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~stderr_capture_t() { restore(); }
  std::string text() {
    restore();
    return read_file(path_);
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      ::dup2(saved_, 2);
      ::close(saved_);
      saved_ = -1;
    }
  }
  sandbox_t sandbox_;
  std::string path_;
  int saved_ = -1;
};

struct child_result_t {
  int wait_status = 0;
  std::string stderr_text;

  bool exited() const { return WIFEXITED(wait_status); }
  int exit_status() const { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }
};

// Status of a child whose body returned while a test assertion had failed.
constexpr int child_assertion_failed = 250;

// Runs body in a forked child with a fresh log and descriptor 2 on a pipe.
// A body that returns ends the child with status 0 (250 when an assertion
// failed); a body may instead end the process itself.
inline child_result_t run_in_child(std::function<void()> const& body) {
  child_result_t result;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) std::abort();
  pid_t const pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    ::dup2(pipe_fds[1], 2);
    ::close(pipe_fds[1]);
    cf_log_reset_for_tests();
    body();
    ::_exit(::testing::Test::HasFailure() ? child_assertion_failed : 0);
  }
  ::close(pipe_fds[1]);
  result.stderr_text = read_fd_to_end(pipe_fds[0]);
  ::close(pipe_fds[0]);
  while (::waitpid(pid, &result.wait_status, 0) < 0 && errno == EINTR) {
  }
  return result;
}

// Every test of the process log starts and ends with a fresh log.
class fresh_log_test : public ::testing::Test {
 protected:
  void SetUp() override { cf_log_reset_for_tests(); }
  void TearDown() override { cf_log_reset_for_tests(); }
};

}  // namespace log_test
