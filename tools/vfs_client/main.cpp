// Plays a Samba VFS module: connects to the daemon's socket, says hello with a
// share tag and base directory, prints the share settings it receives, then
// sends the requests given as arguments (or read from standard input, one per
// line) and prints each verdict as it arrives.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "tools/vfs_client/vfs_client.h"

namespace po = boost::program_options;

namespace {

constexpr int usage_status = 2;

char const usage_text[] =
    "usage: vfs-client --socket PATH --basedir DIR [--tag TAG] [--chroot DIR] [REQUEST...]\n"
    "REQUEST: \"open PATH\", \"close PATH\", \"read PATH\" or \"write PATH [USER[@DOMAIN]] [IP]\";\n"
    "without REQUEST arguments the requests are read from standard input, one per line.\n";

int connect_to(std::string const& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    std::cerr << "vfs-client: socket path too long: " << path << std::endl;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::cerr << "vfs-client: cannot connect to " << path << ": " << std::strerror(errno) << std::endl;
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

// Waits for the socket (and standard input when `input` is set); false on a poll failure.
bool wait_for(int fd, bool input, bool& socket_ready, bool& input_ready) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
  int ready;
  do {
    ready = ::poll(fds, input ? 2 : 1, -1);
  } while (ready < 0 && errno == EINTR);
  socket_ready = fds[0].revents != 0;
  input_ready = input && fds[1].revents != 0;
  return ready > 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string socket_path;
  std::string basedir;
  std::string tag;
  std::string chroot;
  std::vector<std::string> arguments;
  po::options_description options("options");
  options.add_options()("help,h", "print this help and exit")("socket,s", po::value(&socket_path)->required(),
                                                              "the daemon's VFS-module socket")(
      "basedir,b", po::value(&basedir)->required(), "the share's base directory, sent in the hello")(
      "tag,t", po::value(&tag), "the share's tag, sent in the hello and in every file event")(
      "chroot,c", po::value(&chroot)->default_value("/"), "where the paths are found for stat (Samba's chroot)")(
      "request", po::value(&arguments));
  po::positional_options_description positional;
  positional.add("request", -1);

  std::vector<vfs_client_t::request_t> requests;
  try {
    po::variables_map vm;
    po::store(po::command_line_parser(argc, argv).options(options).positional(positional).run(), vm);
    if (vm.count("help")) {
      std::cout << usage_text;
      return 0;
    }
    po::notify(vm);
    for (std::string const& argument : arguments) {
      vfs_client_t::request_t request;
      if (!vfs_client_t::parse(argument, request)) throw std::invalid_argument("not a request: " + argument);
      requests.push_back(request);
    }
  } catch (std::exception const& e) {
    std::cerr << "vfs-client: " << e.what() << "\n" << usage_text;
    return usage_status;
  }

  ::signal(SIGPIPE, SIG_IGN);
  int const fd = connect_to(socket_path);
  if (fd < 0) return 1;
  int status = 0;
  try {
    vfs_client_t client(fd, tag, chroot);
    client.hello(basedir);
    bool socket_ready = false;
    bool input_ready = false;
    // Share settings answer an accepted hello; requests go only after them.
    while (!client.has_settings()) {
      if (!wait_for(fd, false, socket_ready, input_ready) || !client.receive())
        throw std::runtime_error("the daemon closed the connection");
    }
    for (auto const& request : requests) client.send(request);

    bool input_open = requests.empty();
    std::string input;
    while (input_open || client.outstanding() != 0) {
      if (!wait_for(fd, input_open, socket_ready, input_ready)) throw std::runtime_error("poll failed");
      if (socket_ready && !client.receive()) throw std::runtime_error("the daemon closed the connection");
      if (!input_ready) continue;
      char chunk[4096];
      ssize_t const got = ::read(0, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        input_open = false;
        input += '\n';
      } else {
        input.append(chunk, static_cast<std::size_t>(got));
      }
      for (std::string::size_type end; (end = input.find('\n')) != std::string::npos;) {
        std::string const line = input.substr(0, end);
        input.erase(0, end + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
          continue;
        vfs_client_t::request_t request;
        if (vfs_client_t::parse(line, request)) {
          client.send(request);
        } else {
          std::cerr << "vfs-client: not a request: " << line << std::endl;
          status = 1;
        }
      }
    }
  } catch (std::exception const& e) {
    std::cerr << "vfs-client: " << e.what() << std::endl;
    status = 1;
  }
  ::close(fd);
  return status;
}
