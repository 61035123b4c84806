#include "service/sm_path_stamp.h"

#include <sys/stat.h>

#include <algorithm>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "service/sm_clock.h"
#include "tests/support/sandbox.h"

namespace {

timespec later(timespec t, long ns) {
  t.tv_nsec += ns;
  return t.tv_nsec >= 1000000000L ? timespec{t.tv_sec + 1, t.tv_nsec - 1000000000L} : t;
}

TEST(sm_path_stamp, a_change_in_the_tick_or_the_grain_of_the_reading_or_within_two_whole_seconds_is_not_trusted) {
  typedef sm_path_stamp_t stamp_t;
  long const tick = static_cast<long>(sm_clock_t::coarse_real_tick().count());
  timespec const changed{1000, 999999999};
  // a node's change time, the clock read before the stamp, the trust
  std::tuple<timespec, timespec, stamp_t::trust_t> const cases[] = {
      {changed, changed, stamp_t::too_recent},  // a later change in this tick would show the same time
      {changed, {1000, 999999998}, stamp_t::too_recent},
      {changed, later(changed, 1), stamp_t::too_recent},
      {changed, later(changed, 2), stamp_t::trusted},
      {changed, later(changed, tick), stamp_t::trusted},
      // A time cut down to a coarser grain stands for the whole grain after it: 100 ns, 10 ms, 100 ms, the
      // largest power of ten its nanoseconds are a multiple of, and no larger than 100 ms.
      {{1000, 123456700}, {1000, 123456800}, stamp_t::too_recent},
      {{1000, 123456700}, {1000, 123456801}, stamp_t::trusted},
      {{1000, 120000000}, {1000, 130000000}, stamp_t::too_recent},
      {{1000, 120000000}, {1000, 130000001}, stamp_t::trusted},
      {{1000, 900000000}, {1001, 0}, stamp_t::too_recent},
      {{1000, 900000000}, {1001, 1}, stamp_t::trusted},
      {{1000, 500000000}, {1000, 600000000}, stamp_t::too_recent},
      {{1000, 500000000}, {1000, 600000001}, stamp_t::trusted},
      // whole seconds: never within two seconds, whatever the tick
      {{1000, 0}, {1000, 0}, stamp_t::whole_seconds},
      {{1000, 0}, {1001, 999999999}, stamp_t::whole_seconds},
      {{1000, 0}, {1002, 0}, stamp_t::trusted},
  };
  for (auto const& [ctime, now, trust] : cases)
    EXPECT_EQ(trust, sm_path_stamp_t::trust(ctime, now))
        << ctime.tv_sec << "." << ctime.tv_nsec << " at " << now.tv_sec << "." << now.tv_nsec;

  // A stamp is as recent as its most recent node, the top folder included.
  test_sandbox_t box;
  boost::filesystem::create_directory(box.file("d"));
  std::string const file = box.write("d/f", "x");
  timespec newest{};
  for (std::string const& node : {box.path(), box.file("d"), file}) {
    struct stat st;
    ASSERT_EQ(0, ::lstat(node.c_str(), &st));
    if (st.st_ctim.tv_sec > newest.tv_sec ||
        (st.st_ctim.tv_sec == newest.tv_sec && st.st_ctim.tv_nsec > newest.tv_nsec))
      newest = st.st_ctim;
  }
  sm_path_stamp_t const stamp(file, box.path().size());
  EXPECT_EQ(stamp_t::too_recent, stamp.trust(newest));
  EXPECT_EQ(stamp_t::trusted, stamp.trust(later(newest, 100000001)));
}

}  // namespace
