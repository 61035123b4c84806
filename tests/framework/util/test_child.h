#pragma once

// Helpers for tests that need a process of their own: a sandbox folder, a forked child whose
// standard output and error are captured, and a program run with a chosen argv and environment.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
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

// Runs body in a forked child with standard output and error captured. A body that returns
// makes the child exit with 0; one that throws exits with 99 after writing "EXCEPTION: " and the
// text on standard error.
inline child_result_t run_in_child(std::function<void()> const& body) {
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
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
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  child_result_t result;
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
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

}  // namespace qn_test
