#include "framework/log/cf_syslog_log.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::events_t;

std::string openlog_call(char const* ident, int facility) {
  return "openlog " + std::string(ident) + " " + std::to_string(LOG_PID) + " " + std::to_string(facility);
}

std::string syslog_call(int priority, std::string const& text) {
  return "syslog " + std::to_string(priority) + " " + text;
}

TEST(cf_syslog_log, priority_of_each_level_ident_and_close) {
  log_test::syslog_recorder_t recorder;
  {
    cf_syslog_log_t sink("guard", LOG_LOCAL3);
    sink.open();
    for (int level : {0, 1, 2, 3, 4, 5, -1}) sink.write(level, "100% sure");
    sink.write_tagged("db", 9, "slow");
    sink.out_of_memory();
  }
  for (char const* ident : {static_cast<char const*>(nullptr), ""}) cf_syslog_log_t(ident, LOG_USER).open();
  std::string const text = "100% sure";
  EXPECT_EQ((events_t{openlog_call("guard", LOG_LOCAL3), syslog_call(LOG_DEBUG, text), syslog_call(LOG_INFO, text),
                      syslog_call(LOG_NOTICE, text), syslog_call(LOG_WARNING, text), syslog_call(LOG_ERR, text),
                      syslog_call(LOG_ERR, text), syslog_call(LOG_ERR, text), syslog_call(LOG_ERR, "db-9: slow"),
                      syslog_call(LOG_ERR, "Error: Not enough memory"), "closelog", openlog_call("(null)", LOG_USER),
                      "closelog", openlog_call("(null)", LOG_USER), "closelog"}),
            recorder.calls());
}

class cf_syslog_install_test : public log_test::fresh_log_test {};

TEST_F(cf_syslog_install_test, replaced_sink_closes_before_the_next_opens_and_only_its_own_log) {
  log_test::syslog_recorder_t recorder;
  cf_set_log(std::make_shared<cf_syslog_log_t>("first", LOG_LOCAL0));
  cf_set_log(std::make_shared<cf_syslog_log_t>("second", LOG_USER));
  // Stands for a thread that was still writing through the old sink when it was replaced.
  std::shared_ptr<cf_log_t> still_writing = std::make_shared<cf_syslog_log_t>("third", LOG_MAIL);
  cf_set_log(still_writing);
  cf_set_log(std::make_shared<cf_syslog_log_t>("fourth", LOG_LOCAL1));
  still_writing.reset();
  { cf_syslog_log_t never_opened("other", LOG_USER); }
  cf_log(4, "two");
  cf_log_reset_for_tests();
  EXPECT_EQ((events_t{openlog_call("first", LOG_LOCAL0), "closelog", openlog_call("second", LOG_USER), "closelog",
                      openlog_call("third", LOG_MAIL), openlog_call("fourth", LOG_LOCAL1), syslog_call(LOG_ERR, "two"),
                      "closelog"}),
            recorder.calls());
}

}  // namespace
