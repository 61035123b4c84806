// Cached verdicts side by side with the socket they run over: the load generator asks the real
// daemon (under the ConfigD stand-in, with the file-checker stand-in) about files it already knows
// clean, and then a bare Boost.Asio server that answers every frame with a verdict frame and does
// nothing else. Options: --seconds S (per run), --runs R, --loads NxK,..., --files F, --daemon PATH, --cpu C
// (the CPU that the 1-connection loads share).

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/write.hpp>

#include "bench/support/bench_args.h"
#include "bench/support/bench_child.h"
#include "bench/support/bench_road.h"
#include "bench/support/bench_sandbox.h"
#include "bench/support/load_comparison.h"
#include "bench/support/vfs_load_protocol.h"

namespace {

typedef boost::asio::local::stream_protocol::socket socket_t;

// The baseline's connection: reads at most 5120 bytes at a time, as the daemon's connection does,
// follows the frames' length fields and queues one ready-made verdict frame per frame completed.
class bare_connection_t : public std::enable_shared_from_this<bare_connection_t> {
 public:
  explicit bare_connection_t(socket_t socket) : socket(std::move(socket)) {}

  void read() {
    auto self = shared_from_this();
    socket.async_read_some(boost::asio::buffer(buffer, sizeof buffer),
                           [self](boost::system::error_code ec, std::size_t size) {
                             if (ec) return;
                             self->take(size);
                             self->write();
                             self->read();
                           });
  }

 private:
  void take(std::size_t size) {
    static std::string const verdict = vfs_load_protocol_t::verdict_frame(1);
    for (std::size_t at = 0; at < size;) {
      if (body_left == 0) {  // within a length field; an empty frame gets no answer
        length |= std::uint32_t(static_cast<unsigned char>(buffer[at++])) << 8 * length_bytes;
        if (++length_bytes < 4) continue;
        body_left = length;
        length = length_bytes = 0;
        continue;
      }
      std::size_t const part = std::min(body_left, size - at);
      at += part;
      body_left -= part;
      if (body_left == 0) pending += verdict;
    }
  }

  void write() {
    if (!flight.empty() || pending.empty()) return;
    flight.swap(pending);
    auto self = shared_from_this();
    boost::asio::async_write(socket, boost::asio::buffer(flight), [self](boost::system::error_code ec, std::size_t) {
      if (ec) return;
      self->flight.clear();
      self->write();
    });
  }

  socket_t socket;
  char buffer[5120];
  std::uint32_t length = 0;
  std::uint32_t length_bytes = 0;
  std::size_t body_left = 0;
  std::string pending;
  std::string flight;
};

int serve(std::string const& path) {
  boost::asio::io_context io;
  ::unlink(path.c_str());
  boost::asio::local::stream_protocol::acceptor acceptor(io, boost::asio::local::stream_protocol::endpoint(path));
  boost::asio::signal_set stop(io, SIGTERM, SIGINT);
  stop.async_wait([&](boost::system::error_code, int) { io.stop(); });
  std::function<void()> accept = [&] {
    acceptor.async_accept([&](boost::system::error_code ec, socket_t socket) {
      if (ec) return;
      std::make_shared<bare_connection_t>(std::move(socket))->read();
      accept();
    });
  };
  accept();
  io.run();
  ::unlink(path.c_str());
  return 0;
}

std::size_t scans_requested(std::string const& fcheck_output) {
  std::ifstream in(fcheck_output);
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);) count += line.find(": PROXY_SCAN_REQUEST ") != std::string::npos;
  return count;
}

int run(bench_args_t const& args) {
  double const seconds = args.number("seconds", 1);
  int const runs = static_cast<int>(args.number("runs", 3));
  bench_sandbox_t box;
  auto const files = box.make_files("share", static_cast<std::size_t>(args.number("files", 1024)));
  box.write_daemon_config("100000000");
  bench_road_t const peers(box, args.text("daemon", bench_sandbox_t::program("quarn-smbgardix")));
  bench_child_t bare({bench_sandbox_t::program("bench_cached_verdicts"), "--serve", box.file("bare.sock")},
                     box.file("bare.out"));
  bench_sandbox_t::wait_for_socket(box.file("bare.sock"));

  vfs_load_protocol_t const protocol("bench", box.path(), "/share", files);
  load_generator_t::options_t first;
  first.socket = box.file("vfs.sock");
  first.requests = files.size();
  load_generator_t::run(protocol, first);  // every file scanned once and cached clean
  std::size_t const scans = scans_requested(box.file("fcheck.out"));
  if (scans != files.size()) throw std::runtime_error("the first opens asked for " + std::to_string(scans) + " scans");

  std::printf(
      "Cached verdicts: open events of %zu files known clean; %d runs of %.1f s per figure, medians; "
      "load average %s at start\n",
      files.size(), runs, seconds, bench_sandbox_t::load_average().c_str());
  int const single_cpu = bench_sandbox_t::single_cpu(args.number("cpu", -1));
  std::vector<bench_child_t const*> const road{&peers.fcheck, &peers.daemon, &bare};
  auto const rows = load_comparison_t::measure(
      load_comparison_t::parse_loads(args.text("loads", "1x1,1x8,64x1,64x8")), runs,
      load_comparison_t::side(protocol, box.file("vfs.sock"), seconds, true, single_cpu, road),
      load_comparison_t::side(protocol, box.file("bare.sock"), seconds, false, single_cpu, road));
  load_comparison_t::print(rows, "daemon", "bare");
  std::size_t const late_scans = scans_requested(box.file("fcheck.out")) - scans;
  if (late_scans != 0) throw std::runtime_error(std::to_string(late_scans) + " scans during the runs");

  double worst_throughput = 1e9, worst_p99 = 0;
  for (auto const& row : rows) {
    worst_throughput = std::min(worst_throughput, row.throughput_ratio());
    worst_p99 = std::max(worst_p99, row.p99_ratio());
  }
  std::printf("goal: throughput ratio >= 0.80: %s (worst %.2f); p99 ratio <= 1.25: %s (worst %.2f)\n",
              worst_throughput >= 0.8 ? "met" : "MISSED", worst_throughput, worst_p99 <= 1.25 ? "met" : "MISSED",
              worst_p99);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--serve") return serve(argv[2]);
    return run(bench_args_t(argc, argv));
  } catch (std::exception const& e) {
    std::cerr << "bench_cached_verdicts: " << e.what() << std::endl;
    return 1;
  }
}
