#include "framework/log/cf_syslog_log.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include "tests/framework/log/log_test_support.h"
#include "tests/framework/log/syslog_recorder.h"

namespace {

using Calls = std::vector<std::string>;
using log_test::syslog_recorder_t;

std::string openlog_call(char const* ident, int facility) {
  return "openlog " + std::string(ident) + " " + std::to_string(LOG_PID) + " " + std::to_string(facility);
}

std::string syslog_call(int priority, std::string const& text) {
  return "syslog " + std::to_string(priority) + " " + text;
}

TEST(cf_syslog_log, priority_of_each_level) {
  struct row_t {
    int level;
    int priority;
  };
  for (row_t const& row : {row_t{0, LOG_DEBUG}, row_t{1, LOG_INFO}, row_t{2, LOG_NOTICE}, row_t{3, LOG_WARNING},
                           row_t{4, LOG_ERR}, row_t{5, LOG_ERR}, row_t{-1, LOG_ERR}, row_t{42, LOG_ERR}})
    EXPECT_EQ(row.priority, cf_syslog_log_t::priority(row.level)) << row.level;
}

TEST(cf_syslog_log, open_write_and_close) {
  syslog_recorder_t recorder;
  {
    cf_syslog_log_t sink("guard", LOG_LOCAL3);
    EXPECT_EQ("guard", sink.ident);
    EXPECT_EQ(LOG_LOCAL3, sink.facility);
    sink.open();
    sink.write(0, "debug text");
    sink.write(3, "100% sure");
    sink.write(7, "odd");
    sink.write_tagged("db", 9, "slow");
    sink.out_of_memory();
  }
  EXPECT_EQ((Calls{openlog_call("guard", LOG_LOCAL3), syslog_call(LOG_DEBUG, "debug text"),
                   syslog_call(LOG_WARNING, "100% sure"), syslog_call(LOG_ERR, "odd"),
                   syslog_call(LOG_ERR, "db-9: slow"), syslog_call(LOG_ERR, "Error: Not enough memory"), "closelog"}),
            recorder.calls());
}

TEST(cf_syslog_log, empty_or_missing_ident_opens_without_ident) {
  syslog_recorder_t recorder;
  {
    cf_syslog_log_t without(nullptr, LOG_DAEMON);
    EXPECT_EQ("", without.ident);
    without.open();
    cf_syslog_log_t empty("", LOG_USER);
    empty.open();
  }
  EXPECT_EQ((Calls{openlog_call("(null)", LOG_DAEMON), openlog_call("(null)", LOG_USER), "closelog", "closelog"}),
            recorder.calls());
}

class cf_syslog_install_test : public log_test::fresh_log_test {};

TEST_F(cf_syslog_install_test, old_sink_closes_before_the_new_one_opens) {
  syslog_recorder_t recorder;
  cf_set_log(std::make_shared<cf_syslog_log_t>("first", LOG_LOCAL0));
  cf_log(2, "one");
  cf_set_log(std::make_shared<cf_syslog_log_t>("second", LOG_USER));
  cf_log(4, "two");
  cf_log_reset_for_tests();
  EXPECT_EQ((Calls{openlog_call("first", LOG_LOCAL0), syslog_call(LOG_NOTICE, "one"), "closelog",
                   openlog_call("second", LOG_USER), syslog_call(LOG_ERR, "two"), "closelog"}),
            recorder.calls());
}

TEST_F(cf_syslog_install_test, old_sink_released_after_the_swap_leaves_the_new_log_open) {
  syslog_recorder_t recorder;
  // Stands for a thread that was still writing through the old sink.
  std::shared_ptr<cf_log_t> still_writing = std::make_shared<cf_syslog_log_t>("first", LOG_LOCAL0);
  cf_set_log(still_writing);
  cf_set_log(std::make_shared<cf_syslog_log_t>("second", LOG_USER));
  still_writing.reset();
  cf_log(4, "two");
  cf_log_reset_for_tests();
  EXPECT_EQ((Calls{openlog_call("first", LOG_LOCAL0), openlog_call("second", LOG_USER), syslog_call(LOG_ERR, "two"),
                   "closelog"}),
            recorder.calls());
}

TEST(cf_syslog_log, sink_never_opened_closes_no_log_of_another) {
  syslog_recorder_t recorder;
  {
    cf_syslog_log_t open("guard", LOG_DAEMON);
    open.open();
    { cf_syslog_log_t unused("other", LOG_USER); }
    open.write(2, "still open");
  }
  EXPECT_EQ((Calls{openlog_call("guard", LOG_DAEMON), syslog_call(LOG_NOTICE, "still open"), "closelog"}),
            recorder.calls());
}

}  // namespace
