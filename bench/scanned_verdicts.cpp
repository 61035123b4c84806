// Scanned verdicts side by side with the file checker's own round trip: the load generator sends
// open events of files the daemon does not keep (max_cache_size 0) through the real daemon to the
// file-checker stand-in, which answers at once, and then asks the same stand-in directly over its
// own protocol (OPEN_PROXY, then PROXY_SCAN_REQUEST per file). Two hops are the floor.
// Options: --seconds S (per run), --runs R, --loads NxK,..., --files F, --daemon PATH, --cpu C
// (the CPU that the 1-connection loads share).

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "bench/support/bench_args.h"
#include "bench/support/bench_child.h"
#include "bench/support/bench_road.h"
#include "bench/support/bench_sandbox.h"
#include "bench/support/load_comparison.h"
#include "bench/support/vfs_load_protocol.h"
#include "fcheck_client_ipc.pb.h"

namespace {

// The daemon's side of the file checker's protocol, as far as a scan goes.
class fcheck_load_protocol_t : public load_generator_t::protocol_t {
 public:
  explicit fcheck_load_protocol_t(std::vector<bench_sandbox_t::file_t> const& files) : files(files) {}

  std::string greeting() const override {
    fc::ClientMessage open;
    open.set_tag(fc::ClientMessage::OPEN_PROXY);
    open.set_origin(qn::APP_SMB_GARDIX);
    open.set_pid(static_cast<std::uint32_t>(::getpid()));
    std::string out;
    append_frame(out, open);
    return out;
  }
  std::size_t greeting_replies() const override { return 0; }

  void append_request(std::string& out, std::uint32_t serial, std::size_t file) const override {
    fc::ClientMessage scan;
    scan.set_tag(fc::ClientMessage::PROXY_SCAN_REQUEST);
    scan.set_serial(serial);
    scan.set_path(files[file % files.size()].path);
    append_frame(out, scan);
  }

  std::string check_reply(char const* body, std::size_t size, std::uint32_t serial) const override {
    fc::ServerMessage reply;
    if (!reply.ParseFromArray(body, static_cast<int>(size)) || reply.tag() != fc::ServerMessage::PROXY_SCAN_RESPONSE)
      return "a reply that is no scan response";
    if (reply.serial() != serial) return "a scan response out of order";
    if (reply.has_error() || !reply.has_scan_report() || reply.threat_id() != 0)
      return "a scan that found no clean file";
    return "";
  }

 private:
  static void append_frame(std::string& out, fc::ClientMessage const& msg) {
    std::string const body = msg.SerializeAsString();
    for (int i = 0; i < 4; ++i) out += static_cast<char>(body.size() >> 8 * i);
    out += body;
  }

  std::vector<bench_sandbox_t::file_t> files;
};

int run(bench_args_t const& args) {
  double const seconds = args.number("seconds", 1);
  int const runs = static_cast<int>(args.number("runs", 3));
  bench_sandbox_t box;
  auto const files = box.make_files("share", static_cast<std::size_t>(args.number("files", 256)));
  // Without a cache every open is scanned; an error would reject access and fail the run.
  box.write_daemon_config("0");
  bench_road_t const peers(box, args.text("daemon", bench_sandbox_t::program("quarn-smbgardix")));

  vfs_load_protocol_t const through_daemon("bench", box.path(), "/share", files);
  fcheck_load_protocol_t const direct(files);
  std::printf(
      "Scanned verdicts: open events of %zu files, none cached; %d runs of %.1f s per figure, medians; "
      "load average %s at start\n",
      files.size(), runs, seconds, bench_sandbox_t::load_average().c_str());
  int const single_cpu = bench_sandbox_t::single_cpu(args.number("cpu", -1));
  std::vector<bench_child_t const*> const road{&peers.fcheck, &peers.daemon};
  auto const rows = load_comparison_t::measure(
      load_comparison_t::parse_loads(args.text("loads", "1x1,1x8,64x1,64x8")), runs,
      load_comparison_t::side(through_daemon, box.file("vfs.sock"), seconds, true, single_cpu, road),
      load_comparison_t::side(direct, box.file("fc.sock"), seconds, true, single_cpu, road));
  load_comparison_t::print(rows, "daemon", "direct");

  double worst_p50 = 0, worst_throughput = 1e9;
  for (auto const& row : rows) {
    worst_p50 = std::max(worst_p50, row.p50_ratio());
    worst_throughput = std::min(worst_throughput, row.throughput_ratio());
  }
  std::printf(
      "goal: at most 2.2 times the direct round trip: p50 ratio %s (worst %.2f), throughput ratio %s "
      "(worst %.2f, 1/2.2 = 0.45 wanted)\n",
      worst_p50 <= 2.2 ? "met" : "MISSED", worst_p50, worst_throughput >= 1 / 2.2 ? "met" : "MISSED", worst_throughput);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return bench_main("bench_scanned_verdicts", argc, argv, run); }
