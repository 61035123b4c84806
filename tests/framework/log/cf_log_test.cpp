#include "framework/log/cf_log.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::make_events;
using log_test::recording_log_t;
using log_test::run_in_child;
using log_test::stderr_capture_t;
using Events = std::vector<std::string>;

class cf_log_test : public log_test::fresh_log_test {};

TEST(cf_log_levels, names_and_conversions) {
  struct row_t {
    int level;
    char const* name;
  };
  for (row_t const& row : {row_t{0, "Debug"}, row_t{1, "Info"}, row_t{2, "Notice"}, row_t{3, "Warning"},
                           row_t{4, "Error"}, row_t{-1, "Unknown"}, row_t{5, "Unknown"}, row_t{100, "Unknown"}})
    EXPECT_STREQ(row.name, cf_log_level_name(row.level)) << row.level;

  struct name_row_t {
    char const* name;
    int level;
  };
  for (name_row_t const& row : {name_row_t{"Debug", 0}, name_row_t{"Info", 1}, name_row_t{"Notice", 2},
                                name_row_t{"Warning", 3}, name_row_t{"Error", 4}, name_row_t{"debug", 4},
                                name_row_t{"INFO", 4}, name_row_t{"", 4}, name_row_t{"Warning ", 4}})
    EXPECT_EQ(row.level, cf_log_level_from_name(row.name)) << row.name;

  struct proto_row_t {
    int value;
    int level;
  };
  for (proto_row_t const& row : {proto_row_t{1, 0}, proto_row_t{2, 1}, proto_row_t{3, 2}, proto_row_t{4, 3},
                                 proto_row_t{5, 4}, proto_row_t{0, 4}, proto_row_t{6, 4}, proto_row_t{-1, 4}})
    EXPECT_EQ(row.level, cf_log_level_from_proto(row.value)) << row.value;
}

TEST(cf_log_format, plain_and_tagged) {
  EXPECT_EQ("Warning: disk full", cf_log_format(3, "disk full"));
  EXPECT_EQ("Unknown: x", cf_log_format(7, "x"));
  EXPECT_EQ("Debug: ", cf_log_format(0, ""));
  EXPECT_EQ("[scan-12] done", cf_log_format_tagged("scan", 12, "done"));
  EXPECT_EQ("[t--3] x", cf_log_format_tagged("t", -3, "x"));
}

TEST_F(cf_log_test, first_install_replays_buffered_lines_that_pass_the_threshold) {
  for (int level = 0; level <= 4; ++level) cf_log(level, "line " + std::to_string(level));
  cf_log(3, "second warning");
  EXPECT_EQ(CF_LOG_MODE_BUFFERED, cf_log_mode());
  EXPECT_FALSE(cf_is_log_set());

  auto events = make_events();
  cf_log_threshold = CF_LOG_WARNING;
  cf_set_log(std::make_shared<recording_log_t>(events));

  EXPECT_EQ(CF_LOG_MODE_INSTALLED, cf_log_mode());
  EXPECT_TRUE(cf_is_log_set());
  EXPECT_EQ((Events{"sink open", "sink write 3 line 3", "sink write 4 line 4", "sink write 3 second warning"}),
            *events);

  // Once installed, cf_log itself does not filter: call sites do.
  cf_log(0, "late debug");
  EXPECT_EQ("sink write 0 late debug", events->back());
}

TEST_F(cf_log_test, replay_uses_the_threshold_at_install_time) {
  cf_log(0, "d");
  cf_log(2, "n");
  auto events = make_events();
  cf_log_threshold = 5;
  cf_set_log(std::make_shared<recording_log_t>(events));
  EXPECT_EQ((Events{"sink open"}), *events);
}

TEST_F(cf_log_test, second_install_replaces_the_sink_and_replays_nothing) {
  auto events = make_events();
  cf_log(4, "early");
  cf_set_log(std::make_shared<recording_log_t>(events, "A"));
  cf_log(4, "to A");
  cf_log(2, "also to A");
  cf_set_log(std::make_shared<recording_log_t>(events, "B"));
  cf_log(4, "to B");
  EXPECT_EQ((Events{"A open", "A write 4 early", "A write 4 to A", "A write 2 also to A", "A closed", "B open",
                    "B write 4 to B"}),
            *events);
}

TEST_F(cf_log_test, empty_sink_changes_nothing) {
  cf_set_log(std::shared_ptr<cf_log_t>());
  EXPECT_EQ(CF_LOG_MODE_BUFFERED, cf_log_mode());
  EXPECT_FALSE(cf_is_log_set());

  auto events = make_events();
  cf_set_log(std::make_shared<recording_log_t>(events));
  cf_set_log(std::shared_ptr<cf_log_t>());
  cf_log(1, "still here");
  EXPECT_EQ((Events{"sink open", "sink write 1 still here"}), *events);
}

TEST_F(cf_log_test, additional_log_gets_the_formatted_line_without_line_feed) {
  auto events = make_events();
  std::vector<std::string> copies;
  std::vector<std::string> tagged_copies;
  cf_set_log(std::make_shared<recording_log_t>(
      events, "sink", [&](std::string const& line) { copies.push_back(line); },
      [&](std::string const& line) { tagged_copies.push_back(line); }));
  cf_log(3, "low disk");
  cf_log(9, "odd level");
  cf_log_tagged("scan", 5, "started");
  EXPECT_EQ((std::vector<std::string>{"Warning: low disk", "Unknown: odd level"}), copies);
  EXPECT_EQ((std::vector<std::string>{"[scan-5] started"}), tagged_copies);
  EXPECT_EQ((Events{"sink open", "sink write 3 low disk", "sink write 9 odd level", "sink tagged scan 5 started"}),
            *events);
}

TEST_F(cf_log_test, tagged_line_before_install_is_an_error_line) {
  cf_log_tagged("db", 2, "locked");
  auto events = make_events();
  cf_log_threshold = CF_LOG_ERROR;
  cf_set_log(std::make_shared<recording_log_t>(events));
  EXPECT_EQ((Events{"sink open", "sink write 4 db-2: locked"}), *events);
}

TEST(cf_log_sink_base, empty_callbacks_become_callable) {
  auto events = make_events();
  recording_log_t sink(events);
  EXPECT_NO_THROW(sink.additional_log("x"));
  EXPECT_NO_THROW(sink.additional_tagged_log("x"));
  std::string seen;
  sink.set_additional_log([&](std::string const& s) { seen = s; });
  sink.additional_log("abc");
  EXPECT_EQ("abc", seen);
  sink.set_additional_log(cf_log_t::callback_t());
  sink.set_additional_tagged_log(cf_log_t::callback_t());
  EXPECT_NO_THROW(sink.additional_log("x"));
  EXPECT_NO_THROW(sink.additional_tagged_log("x"));
}

TEST_F(cf_log_test, out_of_memory_goes_to_the_sink_or_to_standard_error) {
  {
    stderr_capture_t capture;
    cf_log_out_of_memory();
    EXPECT_EQ("Error: Not enough memory\n", capture.text());
  }
  auto events = make_events();
  cf_set_log(std::make_shared<recording_log_t>(events));
  stderr_capture_t capture;
  cf_log_out_of_memory();
  EXPECT_EQ("", capture.text());
  EXPECT_EQ((Events{"sink open", "sink out of memory"}), *events);
}

TEST_F(cf_log_test, finish_flushes_the_buffer_through_the_threshold) {
  struct row_t {
    int threshold;
    char const* expected;
  };
  for (row_t const& row :
       {row_t{0, "Debug: Flushing log...\nDebug: d\nInfo: i\nNotice: n\nWarning: w\nError: e\nUnknown: odd\n"},
        row_t{2, "Notice: n\nWarning: w\nError: e\nUnknown: odd\n"}, row_t{5, "Unknown: odd\n"}, row_t{6, ""}}) {
    cf_log_reset_for_tests();
    cf_log(0, "d");
    cf_log(1, "i");
    cf_log(2, "n");
    cf_log(3, "w");
    cf_log(4, "e");
    cf_log(5, "odd");
    cf_log_threshold = row.threshold;
    stderr_capture_t capture;
    cf_log_finish();
    EXPECT_EQ(row.expected, capture.text()) << row.threshold;
    EXPECT_EQ(CF_LOG_MODE_FINISHED, cf_log_mode());
  }
}

TEST_F(cf_log_test, finished_log_writes_plain_lines_and_stays_finished) {
  auto events = make_events();
  cf_set_log(std::make_shared<recording_log_t>(events));
  cf_log_finish();
  cf_log_threshold = CF_LOG_NOTICE;
  stderr_capture_t capture;
  cf_log(1, "dropped");
  cf_log(2, "kept");
  cf_log_tagged("t", 1, "tagged");
  // A sink installed after the finish takes no lines.
  cf_set_log(std::make_shared<recording_log_t>(events, "late"));
  cf_log(4, "after");
  EXPECT_EQ("Notice: kept\nError: t-1: tagged\nError: after\n", capture.text());
  EXPECT_EQ(CF_LOG_MODE_FINISHED, cf_log_mode());
  EXPECT_EQ((Events{"sink open", "sink closed", "late open"}), *events);
}

TEST(cf_log_process, lines_of_a_process_without_sink_appear_at_exit) {
  log_test::child_result_t const result = run_in_child([] {
    cf_log(1, "info");
    cf_log(3, "warning");
    cf_log_threshold = CF_LOG_NOTICE;
    cf_log(4, "error");
    std::exit(3);
  });
  EXPECT_EQ(3, result.exit_status());
  EXPECT_EQ("Warning: warning\nError: error\n", result.stderr_text);
}

TEST(cf_log_process, flushing_line_only_at_threshold_zero) {
  log_test::child_result_t const result = run_in_child([] {
    cf_log(1, "info");
    std::exit(0);
  });
  EXPECT_EQ(0, result.exit_status());
  EXPECT_EQ("Debug: Flushing log...\nInfo: info\n", result.stderr_text);
}

TEST(cf_log_write_fd, writes_everything_and_keeps_errno) {
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  errno = ENOTDIR;
  cf_log_write_string(fds[1], "hello");
  cf_log_write_fd(fds[1], "\n", 1);
  cf_log_write_out_of_memory(fds[1]);
  EXPECT_EQ(ENOTDIR, errno);
  // Failures are silent.
  cf_log_write_string(-1, "nowhere");
  EXPECT_EQ(ENOTDIR, errno);
  ::close(fds[1]);
  EXPECT_EQ("hello\nError: Not enough memory\n", log_test::read_fd_to_end(fds[0]));
  ::close(fds[0]);
}

std::atomic<int> g_signals_caught{0};
void count_signal(int) { ++g_signals_caught; }

TEST(cf_log_write_fd, line_interrupted_by_signals_arrives_whole_and_once) {
  // No SA_RESTART: a blocked write returns EINTR or a short count.
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = &count_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  ASSERT_EQ(0, ::sigaction(SIGUSR1, &action, &previous));

  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  // Fill the pipe first, so that the writer blocks before its first byte.
  int const flags = ::fcntl(fds[1], F_GETFL);
  ASSERT_EQ(0, ::fcntl(fds[1], F_SETFL, flags | O_NONBLOCK));
  std::string const filler(4096, 'f');
  std::size_t prefilled = 0;
  for (;;) {
    ssize_t const n = ::write(fds[1], filler.data(), filler.size());
    if (n <= 0) break;
    prefilled += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(0, ::fcntl(fds[1], F_SETFL, flags));

  std::string line;
  for (int i = 0; line.size() < 300000; ++i) line += "chunk " + std::to_string(i) + ";";
  line += '\n';

  g_signals_caught = 0;
  std::atomic<bool> writer_done{false};
  std::thread writer([&] {
    cf_log_write_string(fds[1], line);
    writer_done = true;
    ::close(fds[1]);
  });
  pthread_t const writer_handle = writer.native_handle();

  std::string received;
  char buffer[1500];
  for (;;) {
    if (!writer_done) ::pthread_kill(writer_handle, SIGUSR1);
    ssize_t const n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  writer.join();
  ::close(fds[0]);
  ::sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_GT(g_signals_caught.load(), 0);
  ASSERT_EQ(prefilled + line.size(), received.size());
  EXPECT_EQ(std::string(prefilled, 'f'), received.substr(0, prefilled));
  EXPECT_TRUE(received.compare(prefilled, std::string::npos, line) == 0);
}

}  // namespace
