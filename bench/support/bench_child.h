#pragma once

// A peer process of a benchmark (the daemon's ConfigD stand-in, the file checker, a baseline
// server). Its standard input is /dev/null, its output and errors go to one file. A child still
// running when the object goes is stopped.

#include <sys/types.h>

#include <string>
#include <vector>

class bench_child_t {
 public:
  // argv[0] is a path.
  bench_child_t(std::vector<std::string> const& argv, std::string const& output);
  ~bench_child_t();
  bench_child_t(bench_child_t const&) = delete;
  bench_child_t& operator=(bench_child_t const&) = delete;

  pid_t pid() const { return child; }
  // SIGTERM, then SIGKILL after 10 s; the exit status, or 128 + the signal that ended it.
  int stop();
  // False once the child has ended.
  bool running();

  // Confines the child and every process below it, each of their threads, to one CPU; -1 lets
  // them run anywhere again.
  void pin(int cpu) const;
  // The same for the calling thread; threads that it starts later inherit it.
  static void pin_self(int cpu);

 private:
  pid_t child = -1;
  int status = -1;
};
