#pragma once

// Helpers for tests: a sandbox folder, a forked child whose standard output and error are captured,
// a program run with a chosen argv and environment, and writes made under a hail of signals.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>

namespace qn_test {

class sandbox_t {
 public:
  sandbox_t() {
    char pattern[] = "/tmp/qn-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~sandbox_t() {
    boost::system::error_code ec;
    boost::filesystem::remove_all(path_, ec);
  }
  sandbox_t(sandbox_t const&) = delete;
  sandbox_t& operator=(sandbox_t const&) = delete;

  std::string const& path() const { return path_; }
  std::string file(std::string const& name) const { return path_ + "/" + name; }

  std::string write(std::string const& name, std::string const& content) const {
    std::string p = file(name);
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + p);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return p;
  }

 private:
  std::string path_;
};

struct child_result_t {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when the child did not exit normally
  int signal = 0;   // the signal that ended it, if one did
};

// Reads fd from its start to its end and closes it.
inline std::string read_from_start(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  for (off_t at = 0; (n = ::pread(fd, buf, sizeof buf, at)) > 0; at += n) text.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

// Runs body in a forked child with standard output and error captured. A body that returns
// makes the child exit with 0; one that throws exits with 99 after writing "EXCEPTION: " and the
// text on standard error.
inline child_result_t run_in_child(std::function<void()> const& body) {
  int const out = ::memfd_create("qn-test-out", MFD_CLOEXEC);
  int const err = ::memfd_create("qn-test-err", MFD_CLOEXEC);
  if (out < 0 || err < 0) throw std::runtime_error("memfd_create failed");
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out, 1);
    ::dup2(err, 2);
    try {
      body();
    } catch (std::exception const& e) {
      std::string text = std::string("EXCEPTION: ") + e.what() + "\n";
      (void)!::write(2, text.data(), text.size());
      ::_exit(99);
    } catch (...) {
      ::_exit(98);
    }
    std::fflush(nullptr);
    ::_exit(0);
  }
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  child_result_t result;
  result.out = read_from_start(out);
  result.err = read_from_start(err);
  if (WIFEXITED(wstatus))
    result.status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus))
    result.signal = WTERMSIG(wstatus);
  return result;
}

// Runs the program at path with the given argv (argv[0] included) and environment.
inline child_result_t run_program(std::string const& path, std::vector<std::string> const& args,
                                  std::vector<std::string> const& env) {
  return run_in_child([&] {
    std::vector<char*> argv, envp;
    for (std::string const& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string const& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    ::execve(path.c_str(), argv.data(), envp.data());
    std::string text = "execve failed: " + std::string(std::strerror(errno)) + "\n";
    (void)!::write(2, text.data(), text.size());
    ::_exit(97);
  });
}

// The environment of this process without the named variables.
inline std::vector<std::string> environment_without(std::vector<std::string> const& names) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    bool skip = false;
    for (std::string const& name : names)
      if (entry.compare(0, name.size() + 1, name + "=") == 0) skip = true;
    if (!skip) env.push_back(entry);
  }
  return env;
}

inline std::atomic<int>& signals_caught() {
  static std::atomic<int> count{0};
  return count;
}
inline void count_signal(int) { ++signals_caught(); }

// Waits (bounded) until the thread sleeps in the kernel: state S in its stat line.
inline bool wait_until_sleeping(pid_t tid) {
  for (int i = 0; i < 20000; ++i) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::string::size_type const end = line.rfind(')');
    if (end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S') return true;
    ::usleep(500);
  }
  return false;
}

// Calls write_to(fd) in a thread of its own on a pipe filled up beforehand. Once the thread waits
// for room, and then before every read of the other end, it gets SIGUSR1 (without SA_RESTART, so
// a blocked write fails with EINTR or returns short). Returns what came through after the filler.
inline std::string write_under_signals(std::function<void(int fd)> const& write_to) {
  struct sigaction action = {}, previous = {};
  action.sa_handler = &count_signal;
  ::sigaction(SIGUSR1, &action, &previous);
  signals_caught() = 0;
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  int const flags = ::fcntl(fds[1], F_GETFL);
  ::fcntl(fds[1], F_SETFL, flags | O_NONBLOCK);
  std::size_t filled = 0;
  while (::write(fds[1], "f", 1) == 1) ++filled;
  ::fcntl(fds[1], F_SETFL, flags);

  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    tid = ::gettid();
    write_to(fds[1]);
    done = true;
    ::close(fds[1]);
  });
  while (tid == 0) std::this_thread::yield();
  // The first signal comes while the write waits before its first byte: a sure EINTR.
  bool const blocked = wait_until_sleeping(tid);
  ::pthread_kill(writer.native_handle(), SIGUSR1);
  while (signals_caught() == 0) std::this_thread::yield();
  std::string received;
  char buffer[1500];
  for (;;) {
    if (!done) ::pthread_kill(writer.native_handle(), SIGUSR1);
    ssize_t const n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  writer.join();
  ::close(fds[0]);
  ::sigaction(SIGUSR1, &previous, nullptr);
  if (!blocked) return "<the write never blocked>";
  if (received.compare(0, filled, std::string(filled, 'f')) != 0) return "<filler damaged>";
  return received.substr(filled);
}

}  // namespace qn_test
