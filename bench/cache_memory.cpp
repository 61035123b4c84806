// Resident memory of the clean-file cache against its own estimate of 40 bytes per entry: a
// fresh process fills sm_file_cache_t with a million clean entries and compares its resident
// set before and after. Also times a lookup of a known-clean entry. Options: --entries N.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "bench/support/bench_args.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"

namespace {

std::uint64_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

int run(bench_args_t const& args) {
  auto const entries = static_cast<std::uint64_t>(args.number("entries", 1e6));
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("socketpair failed");
  sm_app_t app(pair[1]);
  qn::SMBGardixConfig config;
  // The cache's Debug lines would otherwise be what the lookups measure.
  config.set_log_level(qn::LOG_LEVEL_WARNING);
  config.set_max_cache_size(static_cast<std::uint32_t>(entries * 40 + 40));
  app.settings->apply(1, config, false);
  app.file_cache->init();

  std::uint64_t const before = resident_bytes();
  std::shared_ptr<qn::RemoteUser> writer;
  auto const start = sm_clock_t::steady::now();
  // Inode numbers spread as a file system hands them out: increasing, with gaps.
  for (std::uint64_t i = 0; i < entries; ++i) {
    app.file_cache->is_clean(2049, 1000 + 3 * i, writer);
    app.file_cache->store_check_result(2049, 1000 + 3 * i, true, start);
  }
  std::uint64_t const after = resident_bytes();
  if (app.file_cache->size() != entries) throw std::runtime_error("entries were evicted");

  auto const lookups_start = std::chrono::steady_clock::now();
  std::uint64_t clean = 0;
  for (std::uint64_t i = 0; i < entries; ++i)
    clean += app.file_cache->is_clean(2049, 1000 + 3 * ((i * 7919) % entries), writer);
  double const lookup_ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - lookups_start).count() / entries;
  if (clean != entries) throw std::runtime_error("a known-clean entry was not clean");

  double const per_entry = double(after - before) / double(entries);
  double const estimate = double(app.file_cache->estimate()) / double(entries);
  std::printf("Cache memory: %llu clean entries in sm_file_cache_t\n", static_cast<unsigned long long>(entries));
  std::printf("resident growth %.1f MB: %.1f bytes per entry; the cache's estimate %.0f bytes per entry; ratio %.2f\n",
              double(after - before) / 1e6, per_entry, estimate, per_entry / estimate);
  std::printf("lookup of a known-clean entry in random order: %.0f ns\n", lookup_ns);
  std::printf("goal: at most 2.5 times the estimate: %s\n", per_entry / estimate <= 2.5 ? "met" : "MISSED");
  ::close(pair[0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return bench_main("bench_cache_memory", argc, argv, run); }
