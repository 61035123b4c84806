// Resident memory of the daemon that modules can make it hold: one module sending open events of a
// file known clean and reading none of its verdicts, many modules each holding an unfinished
// frame, and modules one after another asking for scans that the file checker never answers and
// hanging up. Options: --requests N (1000000), --connections C (2000), --frame BYTES (the body the
// frames announce, 1048576; all of it but the last byte is sent), --rounds R (40), --daemon PATH.

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_args.h"
#include "bench/support/bench_child.h"
#include "bench/support/bench_road.h"
#include "bench/support/bench_sandbox.h"
#include "bench/support/vfs_load_protocol.h"

namespace {

int connect_to(std::string const& path) {
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{AF_UNIX, {}};
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot connect to " + path);
  return fd;
}

// Sends as much as the daemon takes; stops once it has taken nothing for `idle_ms`.
std::size_t push(int fd, std::string const& bytes, int idle_ms = 1000) {
  std::size_t sent = 0;
  for (pollfd p{fd, POLLOUT, 0}; sent < bytes.size() && ::poll(&p, 1, idle_ms) == 1;) {
    ssize_t const put = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (put < 0 && errno != EAGAIN) break;
    sent += put > 0 ? static_cast<std::size_t>(put) : 0;
  }
  return sent;
}

// Reads until `count` frames have come, or the daemon closes the connection.
std::size_t read_frames(int fd, std::size_t count) {
  std::size_t frames = 0;
  std::string in;
  char chunk[65536];
  for (ssize_t got; frames < count && (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
    in.append(chunk, got);
    std::size_t at = 0;
    for (std::uint32_t n; in.size() - at >= 4 && in.size() - at - 4 >= (std::memcpy(&n, &in[at], 4), n);)
      at += 4 + n, ++frames;
    in.erase(0, at);
  }
  return frames;
}

// Waits until the daemon has read every byte sent on the connection, or has closed it.
void wait_taken(int fd) {
  for (int unread = 1, i = 0; i < 1000 && ::ioctl(fd, SIOCOUTQ, &unread) == 0 && unread > 0; ++i) ::usleep(10000);
}

long resident_kib(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) throw std::runtime_error("no peer");
  std::ifstream status("/proc/" + std::to_string(peer.pid) + "/status");
  for (std::string word; status >> word;)
    if (word == "VmRSS:") return status >> size, long(size);
  throw std::runtime_error("no VmRSS");
}

// How many times `text` is in the file, once the count has stayed the same for half a second.
long settled_count(std::string const& file, std::string const& text) {
  long last = -1;
  for (long now = 0;; last = now, ::usleep(500000)) {
    std::ifstream in(file);
    std::string const all((std::istreambuf_iterator<char>(in)), {});
    now = 0;
    for (std::size_t at = 0; (at = all.find(text, at)) != std::string::npos; ++at) ++now;
    if (now == last) return now;
  }
}

// Modules one after another, each taking its share settings, asking for 256 scans of a file deep in
// the share, which the file checker never answers, and hanging up.
void unanswered_rounds(int rounds, std::string const& daemon) {
  bench_sandbox_t box;
  std::string folder = "share";
  for (int i = 0; i < 14; ++i) folder += "/" + std::string(250, 'd');
  auto const deep = box.make_files(folder, 1);
  box.write_daemon_config("1000000");
  bench_road_t const road(box, daemon, {"--stuck-scans", "silent"});
  vfs_load_protocol_t const protocol("bench", box.path(), "/share", deep);
  std::string requests;
  for (std::uint32_t serial = 1; serial <= 256; ++serial) protocol.append_request(requests, serial, 0);
  int const watcher = connect_to(box.file("vfs.sock"));
  if (push(watcher, protocol.greeting()) == 0 || read_frames(watcher, 1) != 1) throw std::runtime_error("no settings");
  long const start = resident_kib(watcher);
  std::printf(
      "%d modules, each asking for 256 scans of a file (a %zu-byte path) that the file checker never answers, "
      "then hanging up: VmRSS %ld KiB before\n",
      rounds, deep.front().path.size() - box.path().size(), start);
  for (int round = 1; round <= rounds; ++round) {
    int const fd = connect_to(box.file("vfs.sock"));
    push(fd, protocol.greeting());
    read_frames(fd, 1);
    push(fd, requests, 300);
    ::close(fd);
    if (round % 8 && round != rounds) continue;
    long const scans = settled_count(box.file("fcheck.out"), "not answered");
    long const now = resident_kib(watcher);
    std::printf("  after %2d modules: %5ld scans sent, VmRSS %ld KiB (+%ld KiB)\n", round, scans, now, now - start);
  }
  ::close(watcher);
}

int run(bench_args_t const& args) {
  auto const requests = static_cast<std::uint32_t>(args.number("requests", 1e6));
  auto const connections = static_cast<std::size_t>(args.number("connections", 2000));
  auto const frame = static_cast<std::uint32_t>(args.number("frame", 1 << 20));
  rlimit files{};  // the modules' ends, and the daemon's
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);
  bench_sandbox_t box;
  auto const clean = box.make_files("share", 1);
  box.write_daemon_config("1000000");
  bench_road_t const road(box, args.text("daemon", bench_sandbox_t::program("quarn-smbgardix")));
  vfs_load_protocol_t const protocol("bench", box.path(), "/share", clean);

  int const lazy = connect_to(box.file("vfs.sock"));
  std::string stream = protocol.greeting();
  protocol.append_request(stream, 1, 0);
  if (push(lazy, stream) != stream.size() || read_frames(lazy, 2) != 2) throw std::runtime_error("no first verdict");
  stream.clear();
  for (std::uint32_t serial = 2; serial <= requests + 1; ++serial) protocol.append_request(stream, serial, 0);
  long const idle = resident_kib(lazy);
  std::size_t const taken = push(lazy, stream);
  long const unread = resident_kib(lazy);
  std::printf(
      "%u open events of a file known clean, none of the verdicts read: the daemon took %zu of them; "
      "VmRSS %ld KiB before, %ld KiB after (+%ld KiB)\n",
      requests, taken / (stream.size() / requests), idle, unread, unread - idle);
  std::string const rest = stream.substr(taken);
  std::thread writer([&] { push(lazy, rest); });
  std::size_t const verdicts = read_frames(lazy, requests);
  writer.join();
  std::printf("then read: %zu verdicts of %u\n", verdicts, requests);

  std::vector<int> modules;
  std::string const hello = protocol.greeting(), partial = std::string(reinterpret_cast<char const*>(&frame), 4) +
                                                           std::string(frame > 0 ? frame - 1 : 0, 'x');
  for (std::size_t i = 0; i < connections; ++i) modules.push_back(connect_to(box.file("vfs.sock")));
  for (int fd : modules) push(fd, hello);
  long const connected = resident_kib(lazy);
  std::size_t held = 0;
  for (int fd : modules) held += push(fd, partial) == partial.size();
  for (int fd : modules) wait_taken(fd);
  long const holding = resident_kib(lazy);
  std::printf(
      "%zu modules connected: VmRSS %ld KiB; %zu of them sent a frame announcing %u bytes and all but its "
      "last byte: VmRSS %ld KiB (+%ld KiB)\n",
      connections, connected, held, frame, holding, holding - connected);
  for (int fd : modules) ::close(fd);
  ::close(lazy);
  unanswered_rounds(static_cast<int>(args.number("rounds", 40)),
                    args.text("daemon", bench_sandbox_t::program("quarn-smbgardix")));
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return bench_main("bench_module_memory", argc, argv, &run); }
