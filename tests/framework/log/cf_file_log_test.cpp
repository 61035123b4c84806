#include "framework/log/cf_file_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <stdexcept>

#include "tests/framework/log/log_test_support.h"

namespace {

// 2026-12-06 02:11:47 UTC
constexpr std::time_t g_moment = 1796523107;

std::time_t fixed_clock() { return g_moment; }
std::time_t unconvertible_clock() { return std::numeric_limits<std::time_t>::max(); }

// Runs with a given TZ and a fixed clock, restoring both afterwards.
class cf_file_log_test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (char const* tz = std::getenv("TZ")) saved_tz_ = tz, had_tz_ = true;
    saved_clock_ = cf_file_log_t::clock;
    cf_file_log_t::clock = &fixed_clock;
    set_zone("UTC0");
  }
  void TearDown() override {
    cf_file_log_t::clock = saved_clock_;
    if (had_tz_)
      ::setenv("TZ", saved_tz_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  static void set_zone(char const* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
  }

  log_test::sandbox_t sandbox_;

 private:
  std::string saved_tz_;
  bool had_tz_ = false;
  std::time_t (*saved_clock_)() = nullptr;
};

TEST_F(cf_file_log_test, time_stamp_is_the_date_time_library_default_form) {
  struct row_t {
    std::time_t when;
    char const* zone;
    char const* expected;
  };
  for (row_t const& row :
       {row_t{g_moment, "UTC0", "2026-Dec-06 02:11:47"}, row_t{g_moment, "XST5", "2026-Dec-05 21:11:47"},
        row_t{0, "UTC0", "1970-Jan-01 00:00:00"}, row_t{1767579909, "UTC0", "2026-Jan-05 02:25:09"}}) {
    set_zone(row.zone);
    EXPECT_EQ(row.expected, cf_file_log_t::time_stamp(row.when)) << row.when << " " << row.zone;
  }
}

TEST_F(cf_file_log_test, lines_carry_time_stamp_and_process_id) {
  std::string const path = sandbox_.file("log");
  int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  ASSERT_GE(fd, 0);
  {
    cf_file_log_t sink(fd, true);
    EXPECT_EQ(::getpid(), sink.pid);
    sink.open();
    sink.write(3, "low disk");
    sink.write(8, "odd");
    sink.write_tagged("scan", 4, "done");
    sink.out_of_memory();
  }
  std::string const pid = std::to_string(::getpid());
  EXPECT_EQ("2026-Dec-06 02:11:47 [" + pid + "] Warning: low disk\n" + "2026-Dec-06 02:11:47 [" + pid +
                "] Unknown: odd\n" + "2026-Dec-06 02:11:47 [scan-4] done\n" + "Error: Not enough memory\n",
            log_test::read_file(path));
  // The owning sink closed its descriptor.
  EXPECT_EQ(-1, ::fcntl(fd, F_GETFD));
}

TEST_F(cf_file_log_test, descriptor_not_owned_stays_open) {
  std::string const path = sandbox_.file("log");
  int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  ASSERT_GE(fd, 0);
  { cf_file_log_t sink(fd, false); }
  EXPECT_NE(-1, ::fcntl(fd, F_GETFD));
  ::close(fd);
  // A negative descriptor is never closed, owned or not.
  cf_file_log_t negative(-1, true);
  negative.write(0, "lost");
}

TEST_F(cf_file_log_test, time_without_local_form_makes_the_write_throw) {
  cf_file_log_t::clock = &unconvertible_clock;
  std::string const path = sandbox_.file("log");
  int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  ASSERT_GE(fd, 0);
  cf_file_log_t sink(fd, true);
  try {
    sink.write(4, "x");
    ADD_FAILURE() << "no exception";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ("could not convert calendar time to local time", e.what());
  }
  EXPECT_EQ("", log_test::read_file(path));
}

}  // namespace
