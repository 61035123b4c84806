// The process log, its sinks and the factory that makes them from the settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <limits>
#include <tuple>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_file_log.h"
#include "framework/log/cf_log_factory.h"
#include "framework/log/cf_syslog_log.h"
#include "framework/util/cf_io.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox.h"

namespace {

using lines_t = std::vector<std::string>;

// Records every call it gets, after its name.
class recording_log_t : public cf_log_t {
 public:
  recording_log_t(lines_t& events, std::string name, callback_t plain = {}, callback_t tagged = {})
      : cf_log_t(plain, tagged), events(events), name(std::move(name)) {}
  ~recording_log_t() override { add("closed"); }
  void open() override { add("open"); }
  void write(int level, std::string const& text) override { add("write " + std::to_string(level) + " " + text); }
  void write_tagged(std::string const& tag, int n, std::string const& text) override {
    add("tagged " + tag + " " + std::to_string(n) + " " + text);
  }
  void out_of_memory() override { add("out of memory"); }

 private:
  void add(std::string const& call) { events.push_back(name + " " + call); }
  lines_t& events;
  std::string name;
};

TEST(cf_log, first_install_replays_through_the_threshold_and_a_second_only_replaces_the_sink) {
  cf_log_reset_for_tests();
  lines_t events, copies;
  cf_set_log(std::shared_ptr<cf_log_t>());  // changes nothing
  for (int level = 0; level <= 4; ++level) cf_log(level, "line " + std::to_string(level));
  cf_log_tagged("db", 2, "locked");
  EXPECT_FALSE(cf_is_log_set());
  cf_log_threshold = CF_LOG_WARNING;
  cf_set_log(std::make_shared<recording_log_t>(events, "A"));
  cf_log(0, "to A");  // once installed, call sites filter, not cf_log
  cf_set_log(std::make_shared<recording_log_t>(
      events, "B", [&](std::string const& line) { copies.push_back("plain " + line); },
      [&](std::string const& line) { copies.push_back("tagged " + line); }));
  cf_log(3, "to B");
  cf_log_tagged("scan", 5, "started");
  cf_log_out_of_memory();
  cf_log_reset_for_tests();
  EXPECT_EQ((lines_t{"A open", "A write 3 line 3", "A write 4 line 4", "A write 4 db-2: locked", "A write 0 to A",
                     "A closed", "B open", "B write 3 to B", "B tagged scan 5 started", "B out of memory", "B closed"}),
            events);
  EXPECT_EQ((lines_t{"plain Warning: to B", "tagged [scan-5] started"}), copies);
}

TEST(cf_log, finish_flushes_the_buffer_through_the_threshold_then_writes_plain_lines_at_exit_too) {
  for (auto [threshold, with_sink, err] : std::vector<std::tuple<int, bool, std::string>>{
           {0, false, "Debug: Flushing log...\nDebug: d\nWarning: w\nUnknown: odd\nInfo: late\nError: t-1: tagged\n"},
           {2, false, "Warning: w\nUnknown: odd\nError: t-1: tagged\n"},
           {6, false, ""},
           {2, true, "Error: t-1: tagged\n"}}) {  // a sink gets nothing after the finish either
    test_run_t const r = run_child([&, threshold = threshold, with_sink = with_sink] {
      cf_log_reset_for_tests();
      lines_t events;
      if (with_sink) cf_set_log(std::make_shared<recording_log_t>(events, "early"));
      cf_log(0, "d");
      cf_log(3, "w");
      cf_log(5, "odd");
      cf_log_threshold = threshold;
      cf_log_finish();
      cf_set_log(std::make_shared<recording_log_t>(events, "late"));
      cf_log(1, "late");
      cf_log_tagged("t", 1, "tagged");
      for (std::string const& e : events)
        if (e.find("write") != std::string::npos && e.find("early") == std::string::npos) ::_exit(9);
    });
    EXPECT_EQ(0, r.status) << threshold;
    EXPECT_EQ(err, r.err) << threshold;
  }
  test_run_t const r = run_child([] {
    cf_log_reset_for_tests();
    cf_log(1, "info");
    cf_log_out_of_memory();
    cf_log_threshold = CF_LOG_NOTICE;
    cf_log(4, "error");
    errno = ENOTDIR;
    cf_log_write_string(-1, "nowhere");
    std::exit(errno);  // silent and errno kept
  });
  EXPECT_EQ(ENOTDIR, r.status);
  EXPECT_EQ("Error: Not enough memory\nError: error\n", r.err);
}

lines_t syslog_calls;

// Puts recorders in place of the system-log calls while alive.
struct syslog_recorder_t {
  syslog_recorder_t() : saved(cf_syslog_log_t::calls) {
    syslog_calls.clear();
    cf_syslog_log_t::calls = {
        [](char const* ident, int option, int facility) {
          syslog_calls.push_back("openlog " + std::string(ident ? ident : "(null)") + " " + std::to_string(option) +
                                 " " + std::to_string(facility));
        },
        [](int priority, char const* text) { syslog_calls.push_back(std::to_string(priority) + " " + text); },
        [] { syslog_calls.push_back("closelog"); }};
  }
  ~syslog_recorder_t() { cf_syslog_log_t::calls = saved; }
  cf_syslog_log_t::calls_t saved;
};

std::string opened(char const* ident, int facility) {
  return "openlog " + std::string(ident) + " " + std::to_string(LOG_PID) + " " + std::to_string(facility);
}

TEST(cf_syslog_log, priorities_text_as_data_and_only_its_own_log_closed) {
  cf_log_reset_for_tests();
  syslog_recorder_t recorder;
  cf_set_log(std::make_shared<cf_syslog_log_t>("first", LOG_LOCAL0));
  // Stands for a thread that was still writing through the old sink when it was replaced.
  std::shared_ptr<cf_log_t> still_writing = std::make_shared<cf_syslog_log_t>("", LOG_MAIL);
  cf_set_log(still_writing);
  cf_set_log(std::make_shared<cf_syslog_log_t>("third", LOG_LOCAL1));
  still_writing.reset();
  { cf_syslog_log_t never_opened("other", LOG_USER); }
  for (int level : {0, 3, 4, 9}) cf_log(level, "100% sure");
  cf_log_tagged("db", 9, "slow");
  cf_log_out_of_memory();
  cf_log_reset_for_tests();
  EXPECT_EQ((lines_t{opened("first", LOG_LOCAL0), "closelog", opened("(null)", LOG_MAIL), opened("third", LOG_LOCAL1),
                     "7 100% sure", "4 100% sure", "3 100% sure", "3 100% sure", "3 db-9: slow",
                     "3 Error: Not enough memory", "closelog"}),
            syslog_calls);
}

constexpr std::time_t g_moment = 1796523107;  // 2026-12-06 02:11:47 UTC

TEST(cf_file_log, local_time_stamps_lines_descriptors_and_a_time_without_local_form) {
  test_sandbox_t box;
  std::string const path = box.file("log");
  test_run_t const r = run_child([&] {
    for (char const* zone : {"XST5", "UTC0"}) {
      ::setenv("TZ", zone, 1);
      ::tzset();
      for (std::time_t when : {g_moment, std::time_t(0)}) std::printf("%s|", cf_file_log_t::time_stamp(when).c_str());
    }
    cf_file_log_t::clock = [] { return g_moment; };
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    {
      cf_file_log_t sink(fd, true);
      sink.write(3, "low disk");
      sink.write_tagged("scan", 4, "done");
      sink.out_of_memory();
    }
    { cf_file_log_t borrowed(1, false); }  // must leave standard output open
    cf_file_log_t::clock = [] { return std::numeric_limits<std::time_t>::max(); };
    try {
      cf_file_log_t(1, false).write(4, "x");
    } catch (std::runtime_error const& e) {
      std::printf("%s|", e.what());
    }
    std::printf("%d|%d", ::fcntl(fd, F_GETFD), static_cast<int>(::getpid()));
  });
  std::string const pid = r.out.substr(r.out.rfind('|') + 1);
  EXPECT_EQ(
      "2026-Dec-05 21:11:47|1969-Dec-31 19:00:00|2026-Dec-06 02:11:47|1970-Jan-01 00:00:00|"
      "could not convert calendar time to local time|-1|" +
          pid,
      r.out);
  EXPECT_EQ("2026-Dec-06 02:11:47 [" + pid + "] Warning: low disk\n2026-Dec-06 02:11:47 [scan-4] done\n" +
                "Error: Not enough memory\n",
            cf_read_file(path));
}

// The pipe variable unset, a pipe whose write end can be named in it, and the caller's callbacks.
class cf_log_factory_test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, ::pipe2(pipe_fds, O_NONBLOCK)); }
  void TearDown() override {
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ::unsetenv("COM_QUARN_ADD_LOG_PIPE");
  }
  void set_pipe(char const* value = nullptr) {
    ::setenv("COM_QUARN_ADD_LOG_PIPE", value ? value : std::to_string(pipe_fds[1]).c_str(), 1);
  }
  std::string piped() {
    char buffer[256];
    ssize_t const n = ::read(pipe_fds[0], buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? n : 0);
  }
  std::shared_ptr<cf_log_t> make(qn::Log::LogType type, std::string const& path = "", bool stamp = false) {
    qn::Log settings;
    settings.set_type(type);
    settings.set_path(path);
    settings.set_show_timestamp(stamp);
    return cf_log_factory(settings, plain, tagged);
  }

  test_log_t log;
  test_sandbox_t box;
  int pipe_fds[2] = {-1, -1};
  cf_log_t::callback_t plain, tagged;
};

TEST_F(cf_log_factory_test, pipe_variable_values_and_the_threshold_of_the_factory_lines) {
  std::string const wrong = "Error: Log Factory: Wrong environment variable COM_QUARN_ADD_LOG_PIPE";
  for (auto [value, threshold, line] : std::vector<std::tuple<char const*, int, std::string>>{
           {"+7", 0, "Debug: Log Factory: Additional log - 7"},
           {"-2147483648", 0, "Debug: Log Factory: Additional log - -2147483648"},
           {"7", 1, ""},
           {"", 0, wrong},
           {"7x", 0, wrong},
           {" 7", 0, wrong},
           {"2147483648", 4, wrong},
           {"bad", 5, ""}}) {
    set_pipe(value);
    log.clear();
    cf_log_threshold = threshold;
    plain = tagged = cf_log_t::callback_t();
    ASSERT_TRUE(make(qn::Log::SYSLOG));
    EXPECT_EQ(line.empty() ? lines_t{} : lines_t{line}, log.lines()) << value;
    ASSERT_TRUE(plain && tagged);  // always callable
  }
}

TEST_F(cf_log_factory_test, pipe_gets_a_copy_of_every_line_unless_the_caller_has_callbacks_or_the_log_is_the_console) {
  set_pipe();
  cf_set_log(make(qn::Log::FILE, box.file("log")));
  cf_log(3, "disk low");
  cf_log_tagged("db", 2, "slow");
  plain("direct");  // the caller's arguments were filled with the same writer
  EXPECT_EQ("Warning: disk low\n[db-2] slow\ndirect\n", piped());
  cf_log_threshold = CF_LOG_INFO;  // the factory's own lines would reach the pipe through the installed log

  lines_t seen;
  auto const keep = [&](std::string const& s) { seen.push_back(s); };
  for (auto [type, stamp, caller_plain, caller_tagged] :
       std::vector<std::tuple<qn::Log::LogType, bool, bool, bool>>{{qn::Log::SYSLOG, false, true, false},
                                                                   {qn::Log::SYSLOG, false, true, true},
                                                                   {qn::Log::STDERR, false, false, false},
                                                                   {qn::Log::STDERR, true, false, false},
                                                                   {qn::Log::STDERR, false, true, false}}) {
    plain = caller_plain ? cf_log_t::callback_t(keep) : cf_log_t::callback_t();
    tagged = caller_tagged ? cf_log_t::callback_t(keep) : cf_log_t::callback_t();
    std::shared_ptr<cf_log_t> sink = make(type, "", stamp);
    if (type == qn::Log::STDERR) {
      auto file = dynamic_cast<cf_file_log_t*>(sink.get());
      EXPECT_EQ(stamp, file && file->fd == 2 && !file->owns_fd);
      EXPECT_EQ(!stamp, dynamic_cast<cf_console_log_t*>(sink.get()) != nullptr);
    }
    sink->additional_log("a");
    sink->additional_tagged_log("b");
  }
  EXPECT_EQ((lines_t{"a", "b", "a", "b", "a", "b"}), seen);
  EXPECT_EQ("", piped());
}

TEST_F(cf_log_factory_test, file_log_appends_to_a_file_of_mode_0600_and_auto_gives_no_sink) {
  EXPECT_FALSE(make(qn::Log::AUTO));
  std::string const old = box.write("old.log", "old\n"), fresh = box.file("fresh.log");
  for (std::string const& path : {old, fresh}) make(qn::Log::FILE, path)->write(4, "new");
  std::string const text = cf_read_file(old);
  EXPECT_EQ(0u, text.find("old\n")) << text;
  EXPECT_NE(std::string::npos, text.find("] Error: new\n")) << text;
  struct stat st;
  ASSERT_EQ(0, ::stat(fresh.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

}  // namespace
