#pragma once

// The same loads run against a subject and its baseline, alternating so that both meet the
// same background load; each figure is the median of its runs.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/bench_child.h"
#include "bench/support/load_generator.h"

class load_comparison_t {
 public:
  struct load_t {
    std::size_t connections;
    std::size_t in_flight;
  };
  struct row_t {
    load_t load;
    load_generator_t::figures_t subject;
    load_generator_t::figures_t baseline;
    // subject / baseline
    double throughput_ratio() const { return subject.per_second / baseline.per_second; }
    double p50_ratio() const { return subject.p50_us / baseline.p50_us; }
    double p99_ratio() const { return subject.p99_us / baseline.p99_us; }
  };
  typedef std::function<load_generator_t::figures_t(load_t const&)> side_t;

  // A side that runs `protocol` over `socket` for `seconds`. A one-connection load first confines
  // the generator and every process of `road` to `single_cpu` (unpinned, the round trip would
  // mostly measure how long an idle virtual CPU takes to wake); other loads let them run anywhere.
  static side_t side(load_generator_t::protocol_t const& protocol, std::string const& socket, double seconds,
                     bool check_serials, int single_cpu, std::vector<bench_child_t const*> const& road);

  // "NxK,NxK...": N connections with K requests in flight each.
  static std::vector<load_t> parse_loads(std::string const& text);

  static std::vector<row_t> measure(std::vector<load_t> const& loads, int runs, side_t const& subject,
                                    side_t const& baseline);
  // One line per load: replies per second, p50 and p99 latency of both sides and their ratios.
  static void print(std::vector<row_t> const& rows, std::string const& subject, std::string const& baseline);
};
