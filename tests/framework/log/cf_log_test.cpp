#include "framework/log/cf_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::events_t;
using log_test::recording_log_t;

class cf_log_test : public log_test::fresh_log_test {
 protected:
  std::shared_ptr<events_t> events_ = std::make_shared<events_t>();
};

TEST(cf_log_levels, names_and_conversions) {
  for (auto const& row : std::vector<std::pair<int, char const*>>{{-1, "Unknown: x"},
                                                                  {0, "Debug: x"},
                                                                  {1, "Info: x"},
                                                                  {2, "Notice: x"},
                                                                  {3, "Warning: x"},
                                                                  {4, "Error: x"},
                                                                  {5, "Unknown: x"}})
    EXPECT_EQ(row.second, cf_log_format(row.first, "x")) << row.first;
  EXPECT_EQ("[t--3] x", cf_log_format_tagged("t", -3, "x"));

  for (auto const& row : std::vector<std::pair<char const*, int>>{
           {"Debug", 0}, {"Info", 1}, {"Notice", 2}, {"Warning", 3}, {"Error", 4}, {"debug", 4}, {"Info ", 4}, {"", 4}})
    EXPECT_EQ(row.second, cf_log_level_from_name(row.first)) << row.first;
  for (auto const& row : std::vector<std::pair<int, int>>{{1, 0}, {4, 3}, {5, 4}, {0, 4}, {6, 4}, {-1, 4}})
    EXPECT_EQ(row.second, cf_log_level_from_proto(row.first)) << row.first;
}

TEST_F(cf_log_test, first_install_replays_through_the_threshold_and_a_second_only_replaces_the_sink) {
  cf_set_log(std::shared_ptr<cf_log_t>());  // changes nothing
  for (int level = 0; level <= 4; ++level) cf_log(level, "line " + std::to_string(level));
  cf_log_tagged("db", 2, "locked");
  EXPECT_FALSE(cf_is_log_set());

  cf_log_threshold = CF_LOG_WARNING;
  cf_set_log(std::make_shared<recording_log_t>(events_, "A"));
  EXPECT_TRUE(cf_is_log_set());
  // Once installed, cf_log itself does not filter: call sites do.
  cf_log(0, "to A");
  cf_log_threshold = CF_LOG_DEBUG;
  cf_set_log(std::shared_ptr<cf_log_t>());
  cf_set_log(std::make_shared<recording_log_t>(events_, "B"));
  cf_log(4, "to B");
  EXPECT_EQ((events_t{"A open", "A write 3 line 3", "A write 4 line 4", "A write 4 db-2: locked", "A write 0 to A",
                      "A closed", "B open", "B write 4 to B"}),
            *events_);
}

TEST_F(cf_log_test, additional_logs_get_the_formatted_line) {
  events_t copies;
  cf_set_log(std::make_shared<recording_log_t>(
      events_, "sink", [&](std::string const& line) { copies.push_back("plain " + line); },
      [&](std::string const& line) { copies.push_back("tagged " + line); }));
  cf_log(3, "low disk");
  cf_log(9, "odd level");
  cf_log_tagged("scan", 5, "started");
  EXPECT_EQ((events_t{"plain Warning: low disk", "plain Unknown: odd level", "tagged [scan-5] started"}), copies);
  EXPECT_EQ((events_t{"sink open", "sink write 3 low disk", "sink write 9 odd level", "sink tagged scan 5 started"}),
            *events_);
}

TEST_F(cf_log_test, out_of_memory_goes_to_the_sink_or_to_standard_error) {
  EXPECT_EQ("Error: Not enough memory\n", log_test::run_logged([] { cf_log_out_of_memory(); }).err);
  cf_set_log(std::make_shared<recording_log_t>(events_));
  cf_log_out_of_memory();
  EXPECT_EQ((events_t{"sink open", "sink out of memory"}), *events_);
}

TEST(cf_log_finish, flushes_the_buffer_through_the_threshold_then_writes_plain_lines) {
  struct row_t {
    int threshold;
    char const* expected;
  };
  for (row_t const& row :
       {row_t{0,
              "Debug: Flushing log...\nDebug: d\nInfo: i\nWarning: w\nUnknown: odd\nInfo: late\nError: t-1: tagged\n"},
        row_t{2, "Warning: w\nUnknown: odd\nError: t-1: tagged\n"}, row_t{5, "Unknown: odd\n"}, row_t{6, ""}}) {
    std::string const err = log_test::run_logged([&] {
                              cf_log(0, "d");
                              cf_log(1, "i");
                              cf_log(3, "w");
                              cf_log(5, "odd");
                              cf_log_threshold = row.threshold;
                              cf_log_finish();
                              // A sink installed after the finish takes no lines.
                              cf_set_log(std::make_shared<recording_log_t>(std::make_shared<events_t>()));
                              cf_log(1, "late");
                              cf_log_tagged("t", 1, "tagged");
                            }).err;
    EXPECT_EQ(row.expected, err) << row.threshold;
  }
}

TEST(cf_log_finish, installed_sink_gets_no_more_lines) {
  EXPECT_EQ("Notice: kept\n", log_test::run_logged([] {
                                cf_set_log(std::make_shared<recording_log_t>(std::make_shared<events_t>()));
                                cf_log_finish();
                                cf_log_threshold = CF_LOG_NOTICE;
                                cf_log(1, "dropped");
                                cf_log(2, "kept");
                              }).err);
}

TEST(cf_log_finish, runs_at_exit_of_a_process_without_sink) {
  qn_test::child_result_t const r = log_test::run_logged([] {
    cf_log(1, "info");
    cf_log(3, "warning");
    cf_log_threshold = CF_LOG_NOTICE;
    cf_log(4, "error");
    std::exit(3);
  });
  EXPECT_EQ(3, r.status);
  EXPECT_EQ("Warning: warning\nError: error\n", r.err);
}

TEST(cf_log_write_fd, writes_everything_silently_and_keeps_errno) {
  qn_test::child_result_t const r = qn_test::run_in_child([] {
    errno = ENOTDIR;
    cf_log_write_string(2, "hello");
    cf_log_write_fd(2, "\n", 1);
    cf_log_write_out_of_memory(2);
    cf_log_write_string(-1, "nowhere");
    ::_exit(errno);
  });
  EXPECT_EQ(ENOTDIR, r.status);
  EXPECT_EQ("hello\nError: Not enough memory\n", r.err);
}

TEST(cf_log_write_fd, line_interrupted_by_signals_arrives_whole_and_once) {
  std::string line;
  for (int i = 0; line.size() < 300000; ++i) line += "chunk " + std::to_string(i) + ";";
  std::string const received = qn_test::write_under_signals([&](int fd) { cf_log_write_string(fd, line); });
  EXPECT_EQ(line.size(), received.size());
  EXPECT_TRUE(line == received);
}

}  // namespace
