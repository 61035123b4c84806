#include "framework/util/cf_locale.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "tests/framework/util/test_child.h"

namespace {

TEST(cf_setup_default_locale, first_set_variable_wins_and_all_become_c) {
  struct row_t {
    char const* values[3];  // LC_ALL, LC_CTYPE, LANG; null: unset
    int threshold;
    char const* expected;
    bool warns;
  };
  for (row_t const& row :
       {row_t{{nullptr, nullptr, "de_DE.UTF-8"}, 0, "de_DE.UTF-8", false},
        row_t{{"fr_FR.UTF-8", "ru_RU.KOI8-R", "de_DE.UTF-8"}, 0, "fr_FR.UTF-8", false},
        row_t{{"", "ru_RU.KOI8-R", "de_DE.UTF-8"}, 0, "ru_RU.KOI8-R", false},
        row_t{{"", "", "de_DE.UTF-8"}, 0, "de_DE.UTF-8", false}, row_t{{"", "", ""}, 0, "C", true},
        row_t{{nullptr, nullptr, nullptr}, 3, "C", true}, row_t{{nullptr, nullptr, nullptr}, 4, "C", false}}) {
    qn_test::child_result_t const r = qn_test::run_in_child([&] {
      cf_log_threshold = row.threshold;
      cf_set_log(cf_make_console_log());
      char const* const names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
      for (int i = 0; i < 3; ++i) row.values[i] ? ::setenv(names[i], row.values[i], 1) : ::unsetenv(names[i]);
      std::printf("%s", cf_setup_default_locale().c_str());
      for (char const* name : names) std::printf("|%s", std::getenv(name) ? std::getenv(name) : "-");
    });
    EXPECT_EQ(std::string(row.expected) + "|C|C|C", r.out) << row.expected;
    EXPECT_EQ(row.warns ? "Warning: Unable to get default locale: LC_ALL, LC_CTYPE and LANG variables are not set, "
                          "assuming \"C\"\n"
                        : "",
              r.err)
        << row.expected;
  }
}

}  // namespace
