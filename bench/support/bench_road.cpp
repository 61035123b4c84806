#include "bench/support/bench_road.h"

#include <vector>

namespace {

// The daemon is started only once the file checker listens.
std::vector<std::string> daemon_argv(bench_sandbox_t const& box, std::string const& daemon) {
  bench_sandbox_t::wait_for_socket(box.file("fc.sock"));
  return {bench_sandbox_t::program("configd-stub"),
          "--config",
          box.file("smbgardix.conf"),
          "--fcheck-socket",
          box.file("fc.sock"),
          "--daemon",
          daemon};
}

std::vector<std::string> fcheck_argv(bench_sandbox_t const& box, std::vector<std::string> const& options) {
  std::vector<std::string> argv = {bench_sandbox_t::program("fcheck-stub"), "--socket", box.file("fc.sock")};
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

}  // namespace

bench_road_t::bench_road_t(bench_sandbox_t const& box, std::string const& daemon,
                           std::vector<std::string> const& fcheck_options)
    : fcheck(fcheck_argv(box, fcheck_options), box.file("fcheck.out")),
      daemon(daemon_argv(box, daemon), box.file("daemon.out")) {
  bench_sandbox_t::wait_for_socket(box.file("vfs.sock"));
}
