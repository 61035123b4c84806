#include "framework/log/cf_console_log.h"

#include <gtest/gtest.h>

#include "tests/framework/log/log_test_support.h"

namespace {

TEST(cf_console_log, one_line_per_call_on_standard_error) {
  qn_test::child_result_t const r = qn_test::run_in_child([] {
    std::shared_ptr<cf_log_t> sink = cf_make_console_log();
    sink->open();
    for (int level : {0, 1, 2, 3, 4, 5, -1}) sink->write(level, "hello");
    sink->write_tagged("scan", 17, "two words");
    sink->out_of_memory();
    sink->additional_log("x");  // made without callbacks: they do nothing
    sink->additional_tagged_log("x");
  });
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(
      "Debug: hello\nInfo: hello\nNotice: hello\nWarning: hello\nError: hello\nUnknown: hello\nUnknown: hello\n"
      "scan-17: two words\nError: Not enough memory\n",
      r.err);
}

}  // namespace
