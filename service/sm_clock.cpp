#include "service/sm_clock.h"

std::atomic<std::int64_t> sm_clock_t::shift_ns(0);
std::atomic<bool> sm_clock_t::driven(false);
std::atomic<std::int64_t> sm_clock_t::coarse_lag_ns(0);

std::int64_t sm_clock_t::seconds_since_epoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(system::now().time_since_epoch()).count();
}

timespec sm_clock_t::coarse_real_now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  std::int64_t const lag = coarse_lag_ns.load();
  if (lag == 0) return now;
  std::int64_t const ns = now.tv_sec * std::int64_t(1000000000) + now.tv_nsec - lag;
  return timespec{static_cast<std::time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

std::chrono::nanoseconds sm_clock_t::coarse_real_tick() {
  timespec tick{};
  if (::clock_getres(CLOCK_REALTIME_COARSE, &tick) != 0) return std::chrono::milliseconds(10);
  return std::chrono::seconds(tick.tv_sec) + std::chrono::nanoseconds(tick.tv_nsec);
}

void sm_clock_t::lag_coarse_real(std::chrono::nanoseconds d) { coarse_lag_ns = d.count(); }

void sm_clock_t::advance(std::chrono::nanoseconds d) {
  driven = true;
  shift_ns += d.count();
}

void sm_clock_t::reset_for_tests() {
  shift_ns = 0;
  driven = false;
  coarse_lag_ns = 0;
}
