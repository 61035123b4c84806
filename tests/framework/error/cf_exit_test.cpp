#include "framework/error/cf_exit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "framework/log/cf_console_log.h"
#include "tests/framework/log/log_test_support.h"

namespace {

void say_exit_handlers_ran() { cf_log_write_string(2, "exit handlers ran\n"); }

TEST(cf_exit, logs_the_status_with_its_text_and_exits_with_it) {
  struct row_t {
    std::function<void()> setup;
    int status;
    char const* err;
  };
  auto const nothing = [] {};
  for (row_t const& row :
       {row_t{nothing, 107, "Notice: Exit with status 107 (Process terminated by signal)\n"},
        row_t{nothing, 0, "Notice: Exit with status 0 (Success)\n"},
        row_t{nothing, 14, "Notice: Exit with status 14 (14)\n"},
        row_t{nothing, 126, "Notice: Exit with status 126 (126)\n"},
        // Buffered lines that pass Notice come first; the exit handlers run.
        row_t{[] {
                std::atexit(&say_exit_handlers_ran);
                cf_log(1, "info");
                cf_log(2, "SMBGardix 1.0");
                cf_log(4, "broken");
              },
              102,
              "Notice: SMBGardix 1.0\nError: broken\nNotice: Exit with status 102 (Invalid configuration)\n"
              "exit handlers ran\n"},
        // An installed sink and the threshold are kept.
        row_t{[] { cf_set_log(cf_make_console_log()); }, 5, "Notice: Exit with status 5 (Operation canceled)\n"},
        row_t{[] {
                cf_log_threshold = CF_LOG_ERROR;
                cf_set_log(cf_make_console_log());
              },
              12, ""},
        // The status survives an exit line that fails.
        row_t{[] { cf_set_log(std::make_shared<log_test::failing_log_t>(false)); }, 107, ""},
        row_t{[] { cf_set_log(std::make_shared<log_test::failing_log_t>(true)); }, 107, "sink out of memory\n"}}) {
    qn_test::child_result_t const r = log_test::run_logged([&] {
      row.setup();
      cf_exit(row.status);
    });
    EXPECT_EQ(row.status, r.status) << row.err;
    EXPECT_EQ(row.err, r.err) << row.status;
  }
}

}  // namespace
