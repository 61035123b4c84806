#pragma once

// The daemon's clocks: the standard steady and system clocks, shifted by an
// offset that only tests move. Tests advance time instead of sleeping; in the
// daemon the offset stays zero.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

#include <boost/asio/basic_waitable_timer.hpp>

class sm_clock_t {
 public:
  template <class Base>
  struct shifted_clock {
    typedef typename Base::rep rep;
    typedef typename Base::period period;
    typedef typename Base::duration duration;
    typedef std::chrono::time_point<shifted_clock, duration> time_point;
    static constexpr bool is_steady = Base::is_steady;

    static time_point now() noexcept {
      return time_point(Base::now().time_since_epoch() +
                        std::chrono::duration_cast<duration>(std::chrono::nanoseconds(shift_ns.load())));
    }
  };

  typedef shifted_clock<std::chrono::steady_clock> steady;
  typedef shifted_clock<std::chrono::system_clock> system;

  // While tests drive the clocks, no timer wait lasts longer than a
  // millisecond, so that a shifted expiry is noticed at once.
  template <class Clock>
  struct wait_traits {
    typedef typename Clock::duration duration;
    static duration to_wait_duration(duration const& d) { return capped(d); }
    static duration to_wait_duration(typename Clock::time_point const& t) {
      typename Clock::time_point const now = Clock::now();
      if (now + (duration::max)() < t) return capped((duration::max)());
      if (now + (duration::min)() > t) return (duration::min)();
      return capped(t - now);
    }

   private:
    static duration capped(duration d) {
      if (!driven.load()) return d;
      duration const cap = std::chrono::duration_cast<duration>(std::chrono::milliseconds(1));
      return d < cap ? d : cap;
    }
  };

  // Whole seconds since the epoch on the system clock, as time() gives them.
  static std::int64_t seconds_since_epoch();

  // The coarse real-time clock, the one the kernel stamps change times with; never shifted, as it is told
  // against those times. Tests may pin it.
  static timespec coarse_real_now();
  // How far that clock moves at once.
  static std::chrono::nanoseconds coarse_real_tick();

  // Tests only: from now on timers poll, and both clocks run `d` ahead. A test
  // calls it with 0 before it starts the timers it will drive.
  static void advance(std::chrono::nanoseconds d);
  // Tests only: the coarse real-time clock stands at `t`; at {0, 0} it runs again.
  static void pin_coarse_real(timespec t);
  // Tests only: how many times the pinned clock has been read, so that a test knows the daemon looked.
  static std::uint64_t pinned_reads();
  // Tests only: back to the unshifted clocks.
  static void reset_for_tests();

 private:
  static std::atomic<std::int64_t> shift_ns;
  static std::atomic<bool> driven;
  static std::atomic<std::int64_t> coarse_pin_ns;  // 0: not pinned
  static std::atomic<std::uint64_t> coarse_pin_reads;
};

typedef boost::asio::basic_waitable_timer<sm_clock_t::steady, sm_clock_t::wait_traits<sm_clock_t::steady>>
    sm_steady_timer_t;
typedef boost::asio::basic_waitable_timer<sm_clock_t::system, sm_clock_t::wait_traits<sm_clock_t::system>>
    sm_system_timer_t;
