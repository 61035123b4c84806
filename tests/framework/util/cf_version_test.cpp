#include "framework/util/cf_version.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "tests/framework/util/test_child.h"

namespace {

TEST(cf_parse_version, takes_the_first_two_parts_or_names_the_bad_text) {
  struct row_t {
    char const* text;
    int major;
    int minor;
  };
  for (row_t const& row :
       {row_t{"2.5.1.9", 2, 5}, row_t{"0.0", 0, 0}, row_t{"+2.-5", 2, -5}, row_t{"007.08", 7, 8},
        row_t{"2147483647.-2147483648", 2147483647, -2147483648}, row_t{"1.2..", 1, 2}, row_t{"1.2.x", 1, 2}})
    EXPECT_EQ(cf_version_t(row.major, row.minor), cf_parse_version(row.text)) << row.text;

  for (std::string const text : {"2", "2..5", "a.b", "", ".", "2.", ".5", "2147483648.0", "0.-2147483649", " 2.5",
                                 "2.5x", "2.+", "-.1", "2,5", "0x1.2", "1e2.3", "+-1.2"}) {
    try {
      cf_parse_version(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (std::runtime_error const& e) {
      EXPECT_EQ("Invalid version format: " + text, std::string(e.what()));
    }
  }
}

TEST(cf_is_compatible_version, equal_major_and_minor_and_unparsable_as_compatible) {
  struct row_t {
    char const* a;
    char const* b;
    int threshold;
    bool compatible;
    char const* log;
  };
  for (row_t const& row :
       {row_t{"2.5.1", "2.5.9", 0, true, ""}, row_t{"2.5", "2.6", 0, false, ""}, row_t{"3.5", "2.5", 0, false, ""},
        row_t{"2.05", "2.5", 0, true, ""},
        row_t{"x", "2.5", 0, true, "Debug: Cannot check component compatibility: Invalid version format: x\n"},
        row_t{"2.5", "7", 0, true, "Debug: Cannot check component compatibility: Invalid version format: 7\n"},
        row_t{"x", "y", 1, true, ""}}) {
    qn_test::child_result_t const r = qn_test::run_in_child([&] {
      cf_log_threshold = row.threshold;
      cf_set_log(cf_make_console_log());
      std::printf("%s", cf_is_compatible_version(row.a, row.b) ? "true" : "false");
    });
    EXPECT_EQ(row.compatible ? "true" : "false", r.out) << row.a << " " << row.b;
    EXPECT_EQ(row.log, r.err) << row.a << " " << row.b;
  }
}

}  // namespace
