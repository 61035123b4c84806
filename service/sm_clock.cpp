#include "service/sm_clock.h"

std::atomic<std::int64_t> sm_clock_t::shift_ns(0);
std::atomic<bool> sm_clock_t::driven(false);
std::atomic<std::int64_t> sm_clock_t::coarse_pin_ns(0);
std::atomic<std::uint64_t> sm_clock_t::coarse_pin_reads(0);

std::int64_t sm_clock_t::seconds_since_epoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(system::now().time_since_epoch()).count();
}

timespec sm_clock_t::coarse_real_now() {
  std::int64_t const pinned = coarse_pin_ns.load();
  if (pinned != 0) {
    ++coarse_pin_reads;
    return timespec{static_cast<std::time_t>(pinned / 1000000000), static_cast<long>(pinned % 1000000000)};
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

std::chrono::nanoseconds sm_clock_t::coarse_real_tick() {
  timespec tick{};
  if (::clock_getres(CLOCK_REALTIME_COARSE, &tick) != 0) return std::chrono::milliseconds(10);
  return std::chrono::seconds(tick.tv_sec) + std::chrono::nanoseconds(tick.tv_nsec);
}

void sm_clock_t::pin_coarse_real(timespec t) { coarse_pin_ns = t.tv_sec * std::int64_t(1000000000) + t.tv_nsec; }

std::uint64_t sm_clock_t::pinned_reads() { return coarse_pin_reads.load(); }

void sm_clock_t::advance(std::chrono::nanoseconds d) {
  driven = true;
  shift_ns += d.count();
}

void sm_clock_t::reset_for_tests() {
  shift_ns = 0;
  driven = false;
  coarse_pin_ns = 0;
  coarse_pin_reads = 0;
}
