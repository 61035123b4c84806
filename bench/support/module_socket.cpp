#include "bench/support/module_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

int module_connect(std::string const& path) {
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{AF_UNIX, {}};
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot connect to " + path);
  return fd;
}

std::size_t module_push(int fd, std::string const& bytes, int idle_ms) {
  std::size_t sent = 0;
  for (pollfd p{fd, POLLOUT, 0}; sent < bytes.size() && ::poll(&p, 1, idle_ms) == 1;) {
    ssize_t const put = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (put < 0 && errno != EAGAIN) break;
    sent += put > 0 ? static_cast<std::size_t>(put) : 0;
  }
  return sent;
}

std::size_t module_read_frames(int fd, std::size_t count, int idle_ms, std::vector<std::string>* bodies) {
  std::size_t frames = 0;
  std::string in;
  char chunk[65536];
  for (pollfd p{fd, POLLIN, 0}; frames < count && (idle_ms < 0 || ::poll(&p, 1, idle_ms) == 1);) {
    ssize_t const got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    in.append(chunk, got);
    std::size_t at = 0;
    for (std::uint32_t size; in.size() - at >= 4 && in.size() - at - 4 >= (std::memcpy(&size, &in[at], 4), size);) {
      if (bodies) bodies->push_back(in.substr(at + 4, size));
      at += 4 + size;
      ++frames;
    }
    in.erase(0, at);
  }
  return frames;
}

pid_t module_peer_pid(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) throw std::runtime_error("no peer");
  return peer.pid;
}
