#include "service/sm_clock.h"

std::atomic<std::int64_t> sm_clock_t::shift_ns(0);
std::atomic<bool> sm_clock_t::driven(false);

std::int64_t sm_clock_t::seconds_since_epoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(system::now().time_since_epoch()).count();
}

void sm_clock_t::advance(std::chrono::nanoseconds d) {
  driven = true;
  shift_ns += d.count();
}

void sm_clock_t::reset_for_tests() {
  shift_ns = 0;
  driven = false;
}
