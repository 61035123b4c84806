#include "framework/log/cf_file_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <stdexcept>

#include "framework/util/cf_io.h"
#include "tests/framework/util/test_child.h"

namespace {

// 2026-12-06 02:11:47 UTC
constexpr std::time_t g_moment = 1796523107;

std::time_t fixed_clock() { return g_moment; }
std::time_t unconvertible_clock() { return std::numeric_limits<std::time_t>::max(); }

void set_zone(char const* zone) {
  ::setenv("TZ", zone, 1);
  ::tzset();
}

TEST(cf_file_log, time_stamp_is_the_date_time_library_default_form_in_local_time) {
  qn_test::child_result_t const r = qn_test::run_in_child([] {
    for (char const* zone : {"UTC0", "XST5"}) {
      set_zone(zone);
      for (std::time_t when : {g_moment, std::time_t(0), std::time_t(1767579909)})
        std::printf("%s|", cf_file_log_t::time_stamp(when).c_str());
    }
  });
  EXPECT_EQ(
      "2026-Dec-06 02:11:47|1970-Jan-01 00:00:00|2026-Jan-05 02:25:09|"
      "2026-Dec-05 21:11:47|1969-Dec-31 19:00:00|2026-Jan-04 21:25:09|",
      r.out);
}

TEST(cf_file_log, lines_descriptors_and_a_time_without_local_form) {
  qn_test::sandbox_t box;
  std::string const path = box.file("log");
  qn_test::child_result_t const r = qn_test::run_in_child([&] {
    set_zone("UTC0");
    cf_file_log_t::clock = &fixed_clock;
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    {
      cf_file_log_t sink(fd, true);
      sink.open();
      sink.write(3, "low disk");
      sink.write(8, "odd");
      sink.write_tagged("scan", 4, "done");
      sink.out_of_memory();
    }
    // Standard output must survive a sink that does not own it.
    { cf_file_log_t borrowed(1, false); }
    cf_file_log_t::clock = &unconvertible_clock;
    try {
      cf_file_log_t(1, false).write(4, "x");
    } catch (std::runtime_error const& e) {
      std::printf("%s|", e.what());
    }
    std::printf("%d|%d", ::fcntl(fd, F_GETFD), static_cast<int>(::getpid()));
  });
  std::string const pid = r.out.substr(r.out.rfind('|') + 1);
  EXPECT_EQ("could not convert calendar time to local time|-1|" + pid, r.out);
  EXPECT_EQ("2026-Dec-06 02:11:47 [" + pid + "] Warning: low disk\n" + "2026-Dec-06 02:11:47 [" + pid +
                "] Unknown: odd\n" + "2026-Dec-06 02:11:47 [scan-4] done\n" + "Error: Not enough memory\n",
            cf_read_file(path));
}

}  // namespace
