// How the daemon's cost grows with the depth of the path asked about: for each depth, a chain of
// folders that deep below the share root with small clean files at its end. The daemon's CPU time
// per scanned open, with the cache on and off (each file opened once, one open at a time); and,
// with the cache on, how long another module waits for a verdict the cache holds while one module
// has 40 deep opens under way. Options: --depths D,... (10,1000,2000), --files N (per depth, 30),
// --rounds R (of the wait, 5), --daemon PATH.

#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_args.h"
#include "bench/support/bench_road.h"
#include "bench/support/bench_sandbox.h"
#include "bench/support/bench_stats.h"
#include "bench/support/module_socket.h"
#include "bench/support/vfs_load_protocol.h"

namespace {

constexpr int verdict_wait_ms = 60000;  // a scan deep down may cost the daemon a few hundred ms
constexpr std::size_t burst = 40;       // deep opens under way while the other module waits

// The share, its deep files, the daemon on it and one module greeted; the file right below the
// share root comes last among the files.
class deep_share_t {
 public:
  deep_share_t(int depth, std::size_t deep_files, std::string const& cache_size, std::string const& daemon)
      : where("depth " + std::to_string(depth) + ", cache " + (cache_size == "0" ? "off" : "on")) {
    std::string folder = "share";
    for (int i = 0; i < depth; ++i) folder += "/d";
    // The longest path as the module sends it, and as the daemon finds it below its chroot.
    std::string const longest = "/" + folder + "/clean-" + std::to_string(deep_files - 1) + ".txt";
    char chroot[PATH_MAX];
    if (!::realpath(box.path().c_str(), chroot) || longest.size() + std::strlen(chroot) >= PATH_MAX)
      throw std::runtime_error(where + ": a path of " + std::to_string(longest.size()) + " bytes is too long");
    files = box.make_files(folder, deep_files);
    files.push_back(box.make_files("share", 1).front());
    box.write_daemon_config(cache_size);
    road.emplace(box, daemon);
    protocol.emplace("bench", box.path(), "/share", files);
    module = greeted();
    daemon_pid = module_peer_pid(module);
  }
  ~deep_share_t() {
    for (int fd : modules) ::close(fd);
  }

  // A new module connection that has its share settings.
  int greeted() {
    int const fd = module_connect(box.file("vfs.sock"));
    modules.push_back(fd);
    if (module_push(fd, protocol->greeting()) == 0 || module_read_frames(fd, 1, verdict_wait_ms) != 1)
      throw std::runtime_error(where + ": no share settings");
    return fd;
  }
  std::size_t near_file() const { return files.size() - 1; }
  // The path as the module sends it.
  std::string sent_path(std::size_t file) const { return files[file].path.substr(box.path().size()); }

  // The open event of `file` with the next serial.
  std::string open(std::size_t file) {
    std::string out;
    protocol->append_request(out, ++serial, file);
    return out;
  }
  // Waits for `count` verdicts on `fd`, every one allowing access.
  void expect_allowed(int fd, std::size_t count, std::string const& what) const {
    std::vector<std::string> bodies;
    module_read_frames(fd, count, verdict_wait_ms, &bodies);
    check_allowed(bodies, count, what);
  }
  void check_allowed(std::vector<std::string> const& bodies, std::size_t count, std::string const& what) const {
    if (bodies.size() != count)
      throw std::runtime_error(where + ": " + what + ": " + std::to_string(bodies.size()) + " verdicts of " +
                               std::to_string(count) + " came");
    for (auto const& body : bodies) {
      std::string const wrong = protocol->check_reply(body.data(), body.size(), 0);
      if (!wrong.empty()) throw std::runtime_error(where + ": " + what + ": " + wrong);
    }
  }
  // How many times the file checker read `file`.
  long scans_of(std::size_t file) const {
    std::ifstream in(box.file("fcheck.out"));
    std::string const read = " read \"" + files[file].path + "\"";
    long count = 0;
    for (std::string line; std::getline(in, line);) count += line.find(read) != std::string::npos;
    return count;
  }

  std::string const where;
  int module = -1;
  pid_t daemon_pid = 0;

 private:
  bench_sandbox_t box;
  std::vector<bench_sandbox_t::file_t> files;
  std::optional<bench_road_t> road;
  std::optional<vfs_load_protocol_t> protocol;
  std::vector<int> modules;
  std::uint32_t serial = 0;
};

// The process's user and system time, its ended threads' included.
double cpu_ms(pid_t pid) {
  clockid_t clock;
  timespec now{};
  if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &now) != 0)
    throw std::runtime_error("cannot read the daemon's CPU time");
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Daemon CPU per open of each of the first `count` deep files, every one scanned: the median of
// three batches, so that a batch disturbed by the machine's other work does not make the figure.
double cpu_per_scanned_open(deep_share_t& share, std::size_t count) {
  std::vector<double> batches;
  for (std::size_t batch = 0, file = 0; batch < 3; ++batch) {
    std::size_t const first = file, end = count * (batch + 1) / 3;
    double const start = cpu_ms(share.daemon_pid);
    for (; file < end; ++file) {
      std::string const open = share.open(file);
      if (module_push(share.module, open, verdict_wait_ms) != open.size())
        throw std::runtime_error(share.where + ": the daemon takes no open");
      share.expect_allowed(share.module, 1, "a scanned open");
    }
    if (end > first) batches.push_back((cpu_ms(share.daemon_pid) - start) / (end - first));
  }
  return bench_median(batches);
}

// The waits of a module for a verdict from the cache, asked for one after another while another
// module's `burst` opens of deep files never asked about, from `first_file` on, are under way: from
// their write until their last verdict, so that every stage of their road is met.
std::vector<double> other_module_waits(deep_share_t& share, std::size_t first_file, int rounds) {
  int const other = share.greeted();
  std::size_t const near = share.near_file();
  for (int i = 0; i < 2; ++i) {
    module_push(other, share.open(near), verdict_wait_ms);
    share.expect_allowed(other, 1, "the other module's open");
  }
  if (share.scans_of(near) != 1) throw std::runtime_error(share.where + ": the file near the root is not cached");
  std::vector<double> waits;
  std::vector<std::string> answers;
  for (int round = 0; round < rounds; ++round) {
    std::string deep;
    for (std::size_t i = 0; i < burst; ++i) deep += share.open(first_file + round * burst + i);
    // What does not fit in the socket at once follows from a thread, which then takes the verdicts.
    std::size_t const sent = module_push(share.module, deep, 0);
    std::atomic<bool> answered(false);
    std::vector<std::string> verdicts;
    std::thread rest([&] {
      module_push(share.module, deep.substr(sent), verdict_wait_ms);
      module_read_frames(share.module, burst, verdict_wait_ms, &verdicts);
      answered = true;
    });
    do {
      std::string const asked = share.open(near);
      auto const start = std::chrono::steady_clock::now();
      module_push(other, asked, verdict_wait_ms);
      module_read_frames(other, 1, verdict_wait_ms, &answers);
      waits.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    } while (!answered);
    rest.join();
    share.check_allowed(verdicts, burst, "a burst of deep opens");
  }
  share.check_allowed(answers, waits.size(), "the other module's open");
  if (share.scans_of(near) != 1) throw std::runtime_error(share.where + ": the file near the root was scanned again");
  return waits;
}

std::vector<int> parse_depths(std::string const& text) {
  std::vector<int> depths;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) depths.push_back(std::stoi(item));
  if (depths.empty() || *std::min_element(depths.begin(), depths.end()) < 0) throw std::runtime_error("bad --depths");
  return depths;
}

struct row_t {
  int depth;
  std::size_t path_bytes;
  double cache_on_ms;
  double cache_off_ms;
  double wait_median_ms;
  double wait_worst_ms;
};

char const* verdict(bool met) { return met ? "met" : "MISSED"; }

int run(bench_args_t const& args) {
  std::string const daemon = args.text("daemon", bench_sandbox_t::program("quarn-smbgardix"));
  auto const files = static_cast<std::size_t>(args.number("files", 30));
  int const rounds = static_cast<int>(args.number("rounds", 5));
  std::vector<int> const depths = parse_depths(args.text("depths", "10,1000,2000"));
  if (files == 0 || rounds <= 0) throw std::runtime_error("--files and --rounds must be positive");
  std::printf(
      "Deep paths: per depth, a chain of folders named \"d\" below the share root; the daemon's CPU per open of "
      "%zu clean files there, each opened once and scanned, one open at a time, median of three batches; the other "
      "module's wait for a "
      "cached verdict, asked again and again while %zu deep opens written at once are under way, %d rounds; load "
      "average %s at start\n",
      files, burst, rounds, bench_sandbox_t::load_average().c_str());
  std::printf("%6s | %10s | %11s %11s | %11s %11s\n", "depth", "path bytes", "CPU ms per", "scanned open", "wait ms of",
              "other module");
  std::printf("%6s | %10s | %11s %11s | %11s %11s\n", "", "", "cache on", "cache off", "median", "worst");
  std::vector<row_t> rows;
  for (int depth : depths) {
    row_t row{depth, 0, 0, 0, 0, 0};
    {
      deep_share_t off(depth, files, "0", daemon);
      row.path_bytes = off.sent_path(0).size();
      row.cache_off_ms = cpu_per_scanned_open(off, files);
    }
    deep_share_t on(depth, files + rounds * burst, "1048576", daemon);
    row.cache_on_ms = cpu_per_scanned_open(on, files);
    std::vector<double> const waits = other_module_waits(on, files, rounds);
    row.wait_median_ms = bench_median(waits);
    row.wait_worst_ms = bench_percentile(waits, 1);
    rows.push_back(row);
    std::printf("%6d | %10zu | %11.2f %11.2f | %11.1f %11.1f\n", row.depth, row.path_bytes, row.cache_on_ms,
                row.cache_off_ms, row.wait_median_ms, row.wait_worst_ms);
    std::fflush(stdout);
  }

  auto const deepest =
      *std::max_element(rows.begin(), rows.end(), [](row_t const& a, row_t const& b) { return a.depth < b.depth; });
  std::printf("goals at depth %d: per scanned open, cache on <= 15 ms: %s (%.2f); cache off <= 5 ms: %s (%.2f)\n",
              deepest.depth, verdict(deepest.cache_on_ms <= 15), deepest.cache_on_ms,
              verdict(deepest.cache_off_ms <= 5), deepest.cache_off_ms);
  auto const half =
      std::find_if(rows.begin(), rows.end(), [&](row_t const& r) { return r.depth * 2 == deepest.depth; });
  if (half == rows.end()) {
    std::printf("goal: CPU at depth %d against half that depth: no such depth measured\n", deepest.depth);
  } else {
    double const on = deepest.cache_on_ms / half->cache_on_ms, off = deepest.cache_off_ms / half->cache_off_ms;
    std::printf("goal: cache-on CPU at depth %d against depth %d <= 2.6 times: %s (%.2f; cache off %.2f)\n",
                deepest.depth, half->depth, verdict(on <= 2.6), on, off);
  }
  std::printf("goal: the other module's worst wait <= 200 ms: %s (%.1f)\n", verdict(deepest.wait_worst_ms <= 200),
              deepest.wait_worst_ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return bench_main("bench_deep_paths", argc, argv, &run); }
