#include "framework/error/cf_exit.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/log/cf_console_log.h"
#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::run_in_child;

TEST(cf_exit, logs_the_status_with_its_text_and_exits_with_it) {
  struct row_t {
    int status;
    char const* line;
  };
  for (row_t const& row :
       {row_t{107, "Notice: Exit with status 107 (Process terminated by signal)\n"},
        row_t{0, "Notice: Exit with status 0 (Success)\n"},
        row_t{1, "Notice: Exit with status 1 (Error on monitor channel)\n"},
        row_t{102, "Notice: Exit with status 102 (Invalid configuration)\n"},
        row_t{125, "Notice: Exit with status 125 (Unexpected error)\n"},
        row_t{14, "Notice: Exit with status 14 (14)\n"}, row_t{126, "Notice: Exit with status 126 (126)\n"}}) {
    log_test::child_result_t const result = run_in_child([&] { cf_exit(row.status); });
    EXPECT_EQ(row.status, result.exit_status());
    EXPECT_EQ(row.line, result.stderr_text) << row.status;
  }
}

TEST(cf_exit, buffered_lines_that_pass_notice_come_first) {
  log_test::child_result_t const result = run_in_child([] {
    cf_log(0, "debug");
    cf_log(1, "info");
    cf_log(2, "SMBGardix 1.0");
    cf_log(4, "broken");
    cf_exit(102);
  });
  EXPECT_EQ(102, result.exit_status());
  EXPECT_EQ("Notice: SMBGardix 1.0\nError: broken\nNotice: Exit with status 102 (Invalid configuration)\n",
            result.stderr_text);
}

TEST(cf_exit, installed_sink_and_threshold_are_kept) {
  log_test::child_result_t const result = run_in_child([] {
    cf_log_threshold = CF_LOG_ERROR;
    cf_set_log(cf_make_console_log());
    cf_exit(12);
  });
  EXPECT_EQ(12, result.exit_status());
  EXPECT_EQ("", result.stderr_text);

  log_test::child_result_t const admitted = run_in_child([] {
    cf_set_log(cf_make_console_log());
    cf_exit(5);
  });
  EXPECT_EQ(5, admitted.exit_status());
  EXPECT_EQ("Notice: Exit with status 5 (Operation canceled)\n", admitted.stderr_text);
}

TEST(cf_exit, status_survives_a_failing_exit_line) {
  struct row_t {
    bool out_of_memory;
    char const* stderr_text;
  };
  for (row_t const& row : {row_t{false, ""}, row_t{true, "sink out of memory\n"}}) {
    log_test::child_result_t const result = run_in_child([&] {
      cf_set_log(std::make_shared<log_test::failing_log_t>(row.out_of_memory));
      try {
        cf_exit(107);
      } catch (...) {
        ::_exit(99);
      }
    });
    EXPECT_EQ(107, result.exit_status()) << row.out_of_memory;
    EXPECT_EQ(row.stderr_text, result.stderr_text) << row.out_of_memory;
  }
}

void say_exit_handlers_ran() { cf_log_write_string(2, "exit handlers ran\n"); }

TEST(cf_exit, exit_handlers_run) {
  log_test::child_result_t const result = run_in_child([] {
    std::atexit(&say_exit_handlers_ran);
    cf_exit(0);
  });
  EXPECT_EQ(0, result.exit_status());
  EXPECT_EQ("Notice: Exit with status 0 (Success)\nexit handlers ran\n", result.stderr_text);
}

}  // namespace
