#include "framework/util/cf_version.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "tests/framework/util/test_child.h"

namespace {

struct good_case_t {
  char const* text;
  int major;
  int minor;
};

TEST(cf_parse_version, takes_first_two_parts) {
  std::vector<good_case_t> const cases = {
      {"2.5.1.9", 2, 5}, {"2.5", 2, 5},    {"0.0", 0, 0},
      {"+2.-5", 2, -5},  {"007.08", 7, 8}, {"2147483647.-2147483648", 2147483647, -2147483648},
      {"1.2..", 1, 2},   {"1.2.x", 1, 2},
  };
  for (good_case_t const& c : cases) {
    cf_version_t v = cf_parse_version(c.text);
    EXPECT_EQ(c.major, v.first) << c.text;
    EXPECT_EQ(c.minor, v.second) << c.text;
  }
}

TEST(cf_parse_version, rejects_bad_texts_naming_them) {
  std::vector<std::string> const cases = {
      "2",    "2..5", "a.b", "",    ".",   "2.",    ".5",    "2147483648.0", "0.-2147483649",
      " 2.5", "2.5x", "2.+", "-.1", "2,5", "0x1.2", "1e2.3", "+-1.2",
  };
  for (std::string const& text : cases) {
    try {
      cf_parse_version(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (std::runtime_error const& e) {
      EXPECT_EQ("Invalid version format: " + text, std::string(e.what()));
    }
  }
}

struct compat_case_t {
  char const* a;
  char const* b;
  bool compatible;
  char const* log;
};

TEST(cf_is_compatible_version, equal_major_and_minor_and_unparsable_as_compatible) {
  std::vector<compat_case_t> const cases = {
      {"2.5.1", "2.5.9", true, ""},
      {"2.5", "2.6", false, ""},
      {"3.5", "2.5", false, ""},
      {"2.05", "2.5", true, ""},
      {"x", "2.5", true, "Debug: Cannot check component compatibility: Invalid version format: x\n"},
      {"2.5", "7", true, "Debug: Cannot check component compatibility: Invalid version format: 7\n"},
  };
  for (compat_case_t const& c : cases) {
    qn_test::child_result_t r = qn_test::run_in_child([&] {
      cf_log_threshold = 0;
      cf_set_log(cf_make_console_log());
      std::string answer = cf_is_compatible_version(c.a, c.b) ? "true" : "false";
      (void)!::write(1, answer.data(), answer.size());
    });
    EXPECT_EQ(c.compatible ? "true" : "false", r.out) << c.a << " " << c.b;
    EXPECT_EQ(c.log, r.err) << c.a << " " << c.b;
  }
}

TEST(cf_is_compatible_version, debug_line_only_when_threshold_admits_it) {
  qn_test::child_result_t r = qn_test::run_in_child([] {
    cf_log_threshold = 1;
    cf_set_log(cf_make_console_log());
    if (!cf_is_compatible_version("x", "y")) ::_exit(3);
  });
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
}

}  // namespace
