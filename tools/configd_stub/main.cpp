// Plays ConfigD for the daemon: starts it on one end of a socket pair, answers
// its requests from a settings file and the command line, prints what it
// sends, forwards SIGHUP and SIGTERM, pushes the settings again on SIGUSR1 and
// exits with the daemon's status.

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/program_options.hpp>

#include "tools/configd_stub/stub_configd.h"

extern char** environ;

namespace po = boost::program_options;

namespace {

constexpr int usage_status = 2;

std::string default_daemon_path() {
  boost::system::error_code ec;
  boost::filesystem::path self = boost::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "quarn-smbgardix";
  return (self.parent_path() / "quarn-smbgardix").string();
}

pid_t start_daemon(std::string const& daemon, int daemon_end, int fd_number) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "COM_QUARN_MONITOR=", 18) != 0) env.push_back(*e);
  env.push_back("COM_QUARN_MONITOR=" + std::to_string(fd_number));
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  std::string path = daemon;
  char* argv[] = {&path[0], nullptr};

  pid_t const pid = ::fork();
  if (pid != 0) return pid;
  // A group of its own, so that a terminal's Ctrl-C reaches only the stand-in,
  // which forwards it as SIGTERM.
  ::setpgid(0, 0);
  // dup2 clears close-on-exec on the copy; an end that already has the number keeps the flag.
  int const placed = daemon_end == fd_number ? ::fcntl(fd_number, F_SETFD, 0) : ::dup2(daemon_end, fd_number);
  if (placed < 0) {
    std::cerr << "configd-stub: cannot place the socket at descriptor " << fd_number << ": " << std::strerror(errno)
              << std::endl;
    ::_exit(127);
  }
  ::execve(argv[0], argv, envp.data());
  std::cerr << "configd-stub: cannot start " << daemon << ": " << std::strerror(errno) << std::endl;
  ::_exit(127);
}

// The status of a child that has ended, from waitpid's raw value.
int exit_status(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return 127;
}

int wait_status(pid_t pid) {
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return exit_status(raw);
}

}  // namespace

int main(int argc, char* argv[]) {
  stub_settings_t settings;
  std::string daemon;
  int fd_number = 3;

  po::options_description options("configd-stub options");
  options.add_options()("help,h", "print this help and exit")(
      "config,c", po::value<std::string>(&settings.config_file)->required(),
      "settings file: a qn.SMBGardixConfig in protobuf text format")(
      "revision,r", po::value<std::uint32_t>(&settings.revision)->default_value(1),
      "config_revision sent with the settings")("suspended,s", po::bool_switch(&settings.suspended),
                                                "mark the daemon suspended")(
      "fcheck-socket,f", po::value<std::string>(&settings.fcheck_socket),
      "file checker socket path for GET_FCHECK_RESPONSE (without it the answer is EC_NO_FILE_CHECK)")(
      "daemon,d", po::value<std::string>(&daemon)->default_value(default_daemon_path()), "the daemon to start")(
      "fd", po::value<int>(&fd_number)->default_value(3), "descriptor number of the socket in the daemon");

  try {
    po::variables_map vm;
    po::store(po::parse_command_line(argc, argv, options), vm);
    if (vm.count("help")) {
      std::cout << options << std::endl;
      return 0;
    }
    po::notify(vm);
  } catch (std::exception const& e) {
    std::cerr << "configd-stub: " << e.what() << "\n" << options << std::endl;
    return usage_status;
  }
  // 0 to 2 are the daemon's standard streams; a number at or above the limit cannot exist in it.
  long const open_max = ::sysconf(_SC_OPEN_MAX);
  if (fd_number < 3 || (open_max > 0 && fd_number >= open_max)) {
    std::cerr << "configd-stub: --fd must be at least 3 and below the descriptor limit " << open_max << std::endl;
    return usage_status;
  }

  boost::asio::io_context io;
  {
    // The settings must be readable before the daemon starts.
    qn::SMBGardixConfig probe;
    if (!stub_configd_t::load_config(settings.config_file, probe)) return usage_status;
  }

  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    std::cerr << "configd-stub: socketpair: " << std::strerror(errno) << std::endl;
    return 1;
  }
  // Set up before the daemon exists, so that no signal finds the default action.
  boost::asio::signal_set forwarded(io, SIGHUP, SIGTERM, SIGINT);
  boost::asio::signal_set push(io, SIGUSR1);
  boost::asio::signal_set child_ended(io, SIGCHLD);
  ::signal(SIGPIPE, SIG_IGN);

  pid_t const child = start_daemon(daemon, pair[1], fd_number);
  ::close(pair[1]);
  if (child < 0) {
    std::cerr << "configd-stub: fork: " << std::strerror(errno) << std::endl;
    return 1;
  }

  // Without the link there is nothing to push; signals are forwarded until the daemon has exited.
  std::shared_ptr<stub_configd_t> link = stub_configd_t::create(io, pair[0], settings, [&] { push.cancel(); });

  int status = -1;
  std::function<void(boost::system::error_code const&, int)> on_child = [&](boost::system::error_code const& ec, int) {
    if (ec) return;
    int raw = 0;
    if (::waitpid(child, &raw, WNOHANG) == child) {
      status = exit_status(raw);
      io.stop();
      return;
    }
    child_ended.async_wait(on_child);
  };

  std::function<void(boost::system::error_code const&, int)> on_forward = [&](boost::system::error_code const& ec,
                                                                              int signal_number) {
    if (ec) return;
    ::kill(child, signal_number == SIGINT ? SIGTERM : signal_number);
    forwarded.async_wait(on_forward);
  };
  std::function<void(boost::system::error_code const&, int)> on_push = [&](boost::system::error_code const& ec, int) {
    if (ec) return;
    link->push_config();
    push.async_wait(on_push);
  };
  forwarded.async_wait(on_forward);
  push.async_wait(on_push);
  child_ended.async_wait(on_child);

  io.run();
  link.reset();
  return status >= 0 ? status : wait_status(child);
}
