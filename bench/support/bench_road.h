#pragma once

// The road under measurement: the file-checker stand-in (its output in fcheck.out) and the daemon
// under configd-stub (daemon.out), started on the settings the sandbox wrote; both listen once the
// constructor returns.

#include <string>
#include <vector>

#include "bench/support/bench_child.h"
#include "bench/support/bench_sandbox.h"

struct bench_road_t {
  // `daemon`: the daemon's program; `fcheck_options`: the stand-in's, besides its socket.
  bench_road_t(bench_sandbox_t const& box, std::string const& daemon,
               std::vector<std::string> const& fcheck_options = {});

  bench_child_t fcheck;
  bench_child_t daemon;
};
