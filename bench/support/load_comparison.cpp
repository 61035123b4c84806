#include "bench/support/load_comparison.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "bench/support/bench_stats.h"

namespace {

load_generator_t::figures_t medians(std::vector<load_generator_t::figures_t> const& runs) {
  std::vector<double> rate, p50, p99;
  load_generator_t::figures_t result;
  for (auto const& run : runs) {
    rate.push_back(run.per_second), p50.push_back(run.p50_us), p99.push_back(run.p99_us);
    result.replies += run.replies;
  }
  result.per_second = bench_median(rate);
  result.p50_us = bench_median(p50);
  result.p99_us = bench_median(p99);
  return result;
}

}  // namespace

load_comparison_t::side_t load_comparison_t::side(load_generator_t::protocol_t const& protocol,
                                                  std::string const& socket, double seconds, bool check_serials,
                                                  int single_cpu, std::vector<bench_child_t const*> const& road) {
  return [&protocol, socket, seconds, check_serials, single_cpu, road](load_t const& load) {
    int const cpu = load.connections == 1 ? single_cpu : -1;
    bench_child_t::pin_self(cpu);
    for (auto const* child : road) child->pin(cpu);
    load_generator_t::options_t options;
    options.socket = socket;
    options.connections = load.connections;
    options.in_flight = load.in_flight;
    options.seconds = seconds;
    options.check_serials = check_serials;
    return load_generator_t::run(protocol, options);
  };
}

std::vector<load_comparison_t::load_t> load_comparison_t::parse_loads(std::string const& text) {
  std::vector<load_t> loads;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    std::size_t const x = item.find('x');
    if (x == std::string::npos) throw std::runtime_error("a load is NxK, not " + item);
    loads.push_back(load_t{std::stoul(item.substr(0, x)), std::stoul(item.substr(x + 1))});
  }
  return loads;
}

std::vector<load_comparison_t::row_t> load_comparison_t::measure(std::vector<load_t> const& loads, int runs,
                                                                 side_t const& subject, side_t const& baseline) {
  std::vector<std::vector<load_generator_t::figures_t>> subject_runs(loads.size()), baseline_runs(loads.size());
  for (int run = 0; run < runs; ++run)
    for (std::size_t i = 0; i < loads.size(); ++i) {
      subject_runs[i].push_back(subject(loads[i]));
      baseline_runs[i].push_back(baseline(loads[i]));
    }
  std::vector<row_t> rows;
  for (std::size_t i = 0; i < loads.size(); ++i)
    rows.push_back(row_t{loads[i], medians(subject_runs[i]), medians(baseline_runs[i])});
  return rows;
}

void load_comparison_t::print(std::vector<row_t> const& rows, std::string const& subject, std::string const& baseline) {
  char const* const s = subject.c_str();
  char const* const b = baseline.c_str();
  std::printf("%-8s | %9s %9s %6s | %8s %8s %6s | %8s %8s %6s\n", "N x k", "per s", "per s", "", "p50 us", "p50 us", "",
              "p99 us", "p99 us", "");
  std::printf("%-8s | %9.9s %9.9s %6s | %8.8s %8.8s %6s | %8.8s %8.8s %6s\n", "", s, b, "ratio", s, b, "ratio", s, b,
              "ratio");
  for (row_t const& row : rows) {
    std::string const load = std::to_string(row.load.connections) + " x " + std::to_string(row.load.in_flight);
    std::printf("%-8s | %9.0f %9.0f %6.2f | %8.1f %8.1f %6.2f | %8.1f %8.1f %6.2f\n", load.c_str(),
                row.subject.per_second, row.baseline.per_second, row.throughput_ratio(), row.subject.p50_us,
                row.baseline.p50_us, row.p50_ratio(), row.subject.p99_us, row.baseline.p99_us, row.p99_ratio());
  }
}
