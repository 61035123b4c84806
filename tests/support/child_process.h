#pragma once

// A child process whose standard output and error the test reads; standard input is /dev/null.
// No wait is endless: when the child neither writes nor exits for stall_ms, the test fails and
// the child is killed. A child still running when the object goes is killed.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class test_child_t {
 public:
  // Also how long a read of configd_peer_t may stall.
  static constexpr int stall_ms = 20000;

  // Runs argv[0] (a path) with this argv and environment ("NAME=value" entries). With
  // pass_fd >= 0 the child gets that descriptor as descriptor as_fd.
  test_child_t(std::vector<std::string> argv, std::vector<std::string> env, int pass_fd = -1, int as_fd = 3);
  // Runs body in a forked copy of this process. The child exits with 0 when body returns, with
  // 99 after writing "EXCEPTION: " and the text on standard error when it throws.
  explicit test_child_t(std::function<void()> const& body);
  ~test_child_t();
  test_child_t(test_child_t const&) = delete;
  test_child_t& operator=(test_child_t const&) = delete;

  void signal(int signal_number);
  // The next line of standard output without its line feed; empty once the output ended.
  std::string next_line();
  // Reads both streams to their end and reaps the child: its exit status, or 128 + the signal
  // that ended it.
  int wait();
  // Standard output not yet taken by next_line, and standard error.
  std::string const& out() const { return out_text; }
  std::string const& err() const { return err_text; }

  // This process's environment without the variables whose names start with one of `drop`,
  // followed by `add`.
  static std::vector<std::string> environment(std::vector<std::string> const& drop = {},
                                              std::vector<std::string> const& add = {});

 private:
  void start(std::function<void()> const& in_child, int pass_fd, int as_fd);
  bool pump();

  pid_t child = -1;
  int out_fd = -1;
  int err_fd = -1;
  std::string out_text;
  std::string err_text;
};

// A run to its end: the exit status (or 128 + the signal) and what the child wrote.
struct test_run_t {
  int status;
  std::string out;
  std::string err;
};
test_run_t run_child(std::function<void()> const& body);
test_run_t run_program(std::vector<std::string> const& argv, std::vector<std::string> const& env);
