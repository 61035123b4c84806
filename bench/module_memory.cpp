// Resident memory of the daemon that modules can make it hold: one module sending open events of a
// file known clean and reading none of its verdicts, many modules each holding an unfinished
// frame, and modules one after another asking for scans that the file checker never answers and
// hanging up. Options: --requests N (1000000), --connections C (2000), --frame BYTES (the body the
// frames announce, 1048576; all of it but the last byte is sent), --rounds R (40), --daemon PATH.

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_args.h"
#include "bench/support/bench_child.h"
#include "bench/support/bench_road.h"
#include "bench/support/bench_sandbox.h"
#include "bench/support/module_socket.h"
#include "bench/support/vfs_load_protocol.h"

namespace {

// Waits until the daemon has read every byte sent on the connection, or has closed it.
void wait_taken(int fd) {
  for (int unread = 1, i = 0; i < 1000 && ::ioctl(fd, SIOCOUTQ, &unread) == 0 && unread > 0; ++i) ::usleep(10000);
}

long resident_kib(int fd) {
  std::ifstream status("/proc/" + std::to_string(module_peer_pid(fd)) + "/status");
  for (std::string word; status >> word;)
    if (word == "VmRSS:") {
      long kib = 0;
      return status >> kib, kib;
    }
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
  int const watcher = module_connect(box.file("vfs.sock"));
  if (module_push(watcher, protocol.greeting()) == 0 || module_read_frames(watcher, 1) != 1)
    throw std::runtime_error("no settings");
  long const start = resident_kib(watcher);
  std::printf(
      "%d modules, each asking for 256 scans of a file (a %zu-byte path) that the file checker never answers, "
      "then hanging up: VmRSS %ld KiB before\n",
      rounds, deep.front().path.size() - box.path().size(), start);
  for (int round = 1; round <= rounds; ++round) {
    int const fd = module_connect(box.file("vfs.sock"));
    module_push(fd, protocol.greeting());
    module_read_frames(fd, 1);
    module_push(fd, requests, 300);
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

  int const lazy = module_connect(box.file("vfs.sock"));
  std::string stream = protocol.greeting();
  protocol.append_request(stream, 1, 0);
  if (module_push(lazy, stream) != stream.size() || module_read_frames(lazy, 2) != 2)
    throw std::runtime_error("no first verdict");
  stream.clear();
  for (std::uint32_t serial = 2; serial <= requests + 1; ++serial) protocol.append_request(stream, serial, 0);
  long const idle = resident_kib(lazy);
  std::size_t const taken = module_push(lazy, stream);
  long const unread = resident_kib(lazy);
  std::printf(
      "%u open events of a file known clean, none of the verdicts read: the daemon took %zu of them; "
      "VmRSS %ld KiB before, %ld KiB after (+%ld KiB)\n",
      requests, taken / (stream.size() / requests), idle, unread, unread - idle);
  std::string const rest = stream.substr(taken);
  std::thread writer([&] { module_push(lazy, rest); });
  std::size_t const verdicts = module_read_frames(lazy, requests);
  writer.join();
  std::printf("then read: %zu verdicts of %u\n", verdicts, requests);

  std::vector<int> modules;
  std::string const hello = protocol.greeting(), partial = std::string(reinterpret_cast<char const*>(&frame), 4) +
                                                           std::string(frame > 0 ? frame - 1 : 0, 'x');
  for (std::size_t i = 0; i < connections; ++i) modules.push_back(module_connect(box.file("vfs.sock")));
  for (int fd : modules) module_push(fd, hello);
  long const connected = resident_kib(lazy);
  std::size_t held = 0;
  for (int fd : modules) held += module_push(fd, partial) == partial.size();
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
