#include "framework/error/cf_protobuf_log.h"

#include <gtest/gtest.h>

#include "tests/framework/log/log_test_support.h"

namespace {

using google::protobuf::LogLevel;
using log_test::events_t;

class cf_protobuf_log_test : public log_test::fresh_log_test {};

TEST_F(cf_protobuf_log_test, levels_threshold_and_the_large_message_warning) {
  auto events = std::make_shared<events_t>();
  cf_set_log(std::make_shared<log_test::recording_log_t>(events));
  events->clear();
  struct row_t {
    LogLevel level;
    char const* message;
    char const* logged;  // null: dropped
  };
  for (row_t const& row :
       {row_t{google::protobuf::LOGLEVEL_INFO, "info text", "sink write 1 info text"},
        row_t{google::protobuf::LOGLEVEL_WARNING,
              "Reading dangerously large protocol message.  If the message turns out to be larger than", nullptr},
        row_t{google::protobuf::LOGLEVEL_WARNING, "Reading dangerously large protocol message",
              "sink write 3 Reading dangerously large protocol message"},
        row_t{google::protobuf::LOGLEVEL_WARNING, " Reading dangerously large protocol message.",
              "sink write 3  Reading dangerously large protocol message."},
        row_t{google::protobuf::LOGLEVEL_ERROR, "Reading dangerously large protocol message. x",
              "sink write 4 Reading dangerously large protocol message. x"},
        row_t{google::protobuf::LOGLEVEL_FATAL, "fatal", "sink write 4 fatal"}}) {
    events->clear();
    cf_protobuf_log_handler(row.level, "file.cc", 12, row.message);
    EXPECT_EQ(row.logged ? events_t{row.logged} : events_t{}, *events) << row.message;
  }

  events->clear();
  cf_log_threshold = CF_LOG_WARNING;
  cf_protobuf_log_handler(google::protobuf::LOGLEVEL_INFO, "f", 1, "info");
  cf_protobuf_log_handler(google::protobuf::LOGLEVEL_WARNING, "f", 1, "warning");
  cf_log_threshold = 5;
  cf_protobuf_log_handler(google::protobuf::LOGLEVEL_ERROR, "f", 1, "error");
  EXPECT_EQ((events_t{"sink write 3 warning"}), *events);
}

TEST(cf_protobuf_log, installed_as_the_library_handler) {
  google::protobuf::LogHandler* const original = google::protobuf::SetLogHandler(nullptr);
  google::protobuf::SetLogHandler(original);
  cf_install_protobuf_log_handler();
  EXPECT_EQ(&cf_protobuf_log_handler, google::protobuf::SetLogHandler(original));
}

}  // namespace
