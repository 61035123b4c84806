#include "framework/log/cf_console_log.h"

#include <gtest/gtest.h>

#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::stderr_capture_t;

TEST(cf_console_log, writes_level_name_and_text_per_line) {
  struct row_t {
    int level;
    char const* expected;
  };
  cf_console_log_t sink;
  for (row_t const& row : {row_t{0, "Debug: hello\n"}, row_t{1, "Info: hello\n"}, row_t{2, "Notice: hello\n"},
                           row_t{3, "Warning: hello\n"}, row_t{4, "Error: hello\n"}, row_t{5, "Unknown: hello\n"},
                           row_t{-1, "Unknown: hello\n"}}) {
    stderr_capture_t capture;
    sink.write(row.level, "hello");
    EXPECT_EQ(row.expected, capture.text()) << row.level;
  }
}

TEST(cf_console_log, tagged_and_out_of_memory_lines) {
  cf_console_log_t sink;
  stderr_capture_t capture;
  sink.open();
  sink.write_tagged("scan", 17, "two words");
  sink.out_of_memory();
  EXPECT_EQ("scan-17: two words\nError: Not enough memory\n", capture.text());
}

TEST(cf_console_log, made_sink_is_a_console_sink_with_callable_callbacks) {
  std::shared_ptr<cf_log_t> sink = cf_make_console_log();
  ASSERT_TRUE(sink);
  EXPECT_NE(nullptr, dynamic_cast<cf_console_log_t*>(sink.get()));
  EXPECT_NO_THROW(sink->additional_log("x"));
  EXPECT_NO_THROW(sink->additional_tagged_log("x"));
}

}  // namespace
