#include "framework/util/cf_locale.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "tests/framework/util/test_child.h"

namespace {

struct locale_case_t {
  char const* lc_all;  // null: unset
  char const* lc_ctype;
  char const* lang;
  char const* expected;
  bool warns;
};

std::string env_or(char const* name, char const* none) {
  char const* v = std::getenv(name);
  return v ? v : none;
}

TEST(cf_setup_default_locale, first_set_variable_wins_and_all_become_c) {
  std::vector<locale_case_t> const cases = {
      {nullptr, nullptr, "de_DE.UTF-8", "de_DE.UTF-8", false},
      {"fr_FR.UTF-8", "ru_RU.KOI8-R", "de_DE.UTF-8", "fr_FR.UTF-8", false},
      {"", "ru_RU.KOI8-R", "de_DE.UTF-8", "ru_RU.KOI8-R", false},
      {"", "", "de_DE.UTF-8", "de_DE.UTF-8", false},
      {nullptr, "POSIX", nullptr, "POSIX", false},
      {"", "", "", "C", true},
      {nullptr, nullptr, nullptr, "C", true},
  };
  for (locale_case_t const& c : cases) {
    qn_test::child_result_t r = qn_test::run_in_child([&] {
      cf_log_threshold = 0;
      cf_set_log(cf_make_console_log());
      char const* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
      char const* values[] = {c.lc_all, c.lc_ctype, c.lang};
      for (int i = 0; i < 3; ++i) {
        if (values[i])
          ::setenv(names[i], values[i], 1);
        else
          ::unsetenv(names[i]);
      }
      std::string out = cf_setup_default_locale();
      out += "|" + env_or("LC_ALL", "-") + "|" + env_or("LC_CTYPE", "-") + "|" + env_or("LANG", "-");
      (void)!::write(1, out.data(), out.size());
    });
    EXPECT_EQ(std::string(c.expected) + "|C|C|C", r.out) << c.expected;
    EXPECT_EQ(c.warns ? "Warning: Unable to get default locale: LC_ALL, LC_CTYPE and LANG variables are not set, "
                        "assuming \"C\"\n"
                      : "",
              r.err)
        << c.expected;
  }
}

TEST(cf_setup_default_locale, warning_only_when_threshold_admits_it) {
  qn_test::child_result_t r = qn_test::run_in_child([] {
    cf_log_threshold = 4;
    cf_set_log(cf_make_console_log());
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_CTYPE");
    ::unsetenv("LANG");
    if (cf_setup_default_locale() != "C") ::_exit(3);
  });
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
}

}  // namespace
