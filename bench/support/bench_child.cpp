#include "bench/support/bench_child.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

extern char** environ;

namespace {

int status_of(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

cpu_set_t cpus_of(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int i = 0; i < CPU_SETSIZE; ++i)
    if (i == cpu || (cpu < 0 && i < ::sysconf(_SC_NPROCESSORS_CONF))) CPU_SET(i, &set);
  return set;
}

// Every thread of the process, then the processes it started, and so on down. A process that
// ends meanwhile is skipped.
void pin_tree(pid_t pid, cpu_set_t const& set) {
  boost::system::error_code ec;
  std::string const tasks = "/proc/" + std::to_string(pid) + "/task";
  for (boost::filesystem::directory_iterator task(tasks, ec), end; !ec && task != end; task.increment(ec)) {
    ::sched_setaffinity(std::stoi(task->path().filename().string()), sizeof set, &set);
    std::ifstream children(task->path().string() + "/children");
    for (pid_t child; children >> child;) pin_tree(child, set);
  }
}

}  // namespace

bench_child_t::bench_child_t(std::vector<std::string> const& argv, std::string const& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (std::string const& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int const rc = posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

bench_child_t::~bench_child_t() { stop(); }

bool bench_child_t::running() {
  if (status >= 0) return false;
  int raw = 0;
  if (::waitpid(child, &raw, WNOHANG) != child) return true;
  status = status_of(raw);
  return false;
}

int bench_child_t::stop() {
  if (!running()) return status;
  ::kill(child, SIGTERM);
  for (int i = 0; i < 1000 && running(); ++i) ::usleep(10000);
  if (running()) ::kill(child, SIGKILL);
  int raw = 0;
  while (status < 0 && ::waitpid(child, &raw, 0) == child) status = status_of(raw);
  return status;
}

void bench_child_t::pin(int cpu) const {
  cpu_set_t const set = cpus_of(cpu);
  pin_tree(child, set);
}

void bench_child_t::pin_self(int cpu) {
  cpu_set_t const set = cpus_of(cpu);
  ::sched_setaffinity(0, sizeof set, &set);
}
