// The log's sinks and the factory that makes them from the settings, and what happens once exit
// began. The console, the held-back lines and their replay show in every run of the daemon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <limits>

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

// A sink installed too late: any call ends the process with 9.
struct untouchable_log_t : cf_log_t {
  untouchable_log_t() : cf_log_t({}, {}) {}
  void open() override {}
  void write(int, std::string const&) override { ::_exit(9); }
  void write_tagged(std::string const&, int, std::string const&) override { ::_exit(9); }
  void out_of_memory() override { ::_exit(9); }
};

TEST(cf_log, finish_flushes_held_back_lines_then_writes_plain_lines_keeping_errno) {
  test_run_t const r = run_child([] {
    cf_log_reset_for_tests();
    cf_log(0, "d");
    cf_log(5, "odd");
    cf_log_out_of_memory();  // written at once
    cf_log_finish();
    cf_log_threshold = CF_LOG_WARNING;
    cf_log(2, "filtered");
    cf_log(3, "a\nforged\x7f\tline");
    cf_log(4, "late");
    cf_set_log(std::make_shared<untouchable_log_t>());
    cf_log(4, "after a sink");
    errno = ENOTDIR;
    cf_log_write_string(-1, "nowhere");
    std::exit(errno);
  });
  EXPECT_EQ(ENOTDIR, r.status);
  EXPECT_EQ(
      "Error: Not enough memory\nDebug: Flushing log...\nDebug: d\nUnknown: odd\nWarning: "
      "a\\x0aforged\\x7f\tline\nError: late\nError: after a sink\n",
      r.err);
}

lines_t g_syslog;

TEST(cf_syslog_log, priorities_text_as_data_and_only_its_own_log_closed) {
  cf_log_reset_for_tests();
  cf_syslog_log_t::calls_t const saved = cf_syslog_log_t::calls;
  cf_syslog_log_t::calls = {[](char const* ident, int option, int facility) {
                              g_syslog.push_back(std::string(ident ? ident : "(null)") + " " + std::to_string(option) +
                                                 " " + std::to_string(facility));
                            },
                            [](int priority, char const* text) { g_syslog.push_back(std::to_string(priority) + text); },
                            [] { g_syslog.push_back("closelog"); }};
  cf_set_log(std::make_shared<cf_syslog_log_t>("first", LOG_LOCAL0));
  // Stands for a thread that was still writing through the old sink when it was replaced.
  std::shared_ptr<cf_log_t> still_writing = std::make_shared<cf_syslog_log_t>("", LOG_MAIL);
  cf_set_log(still_writing);
  cf_set_log(std::make_shared<cf_syslog_log_t>("third", LOG_LOCAL1));
  still_writing.reset();
  for (int level : {0, 3, 4, 9}) cf_log(level, "%s");
  cf_log_out_of_memory();
  cf_log_reset_for_tests();
  cf_syslog_log_t::calls = saved;
  // Option LOG_PID; facilities LOG_LOCAL0, LOG_MAIL and LOG_LOCAL1.
  EXPECT_EQ((lines_t{"first 1 128", "closelog", "(null) 1 16", "third 1 136", "7%s", "4%s", "3%s", "3%s",
                     "3Error: Not enough memory", "closelog"}),
            g_syslog);
}

// A borrowed descriptor stays open: the last line reaches standard output only then.
TEST(cf_file_log, local_time_stamps_owned_descriptors_and_a_time_without_local_form) {
  test_sandbox_t box;
  std::string const path = box.file("log");
  test_run_t const r = run_child([&] {
    ::setenv("TZ", "XST5", 1);
    ::tzset();
    cf_file_log_t::clock = [] { return std::time_t{1796523107}; };  // 2026-12-06 02:11:47 UTC
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    {
      cf_file_log_t sink(fd, true);
      sink.write(3, "low disk");
      sink.out_of_memory();
    }
    cf_file_log_t::clock = [] { return std::numeric_limits<std::time_t>::max(); };
    try {
      cf_file_log_t(1, false).write(4, "x");
    } catch (std::runtime_error const& e) {
      std::printf("%s|%d|%d", e.what(), ::fcntl(fd, F_GETFD), static_cast<int>(::getpid()));
    }
  });
  std::string const pid = r.out.substr(r.out.rfind('|') + 1);
  EXPECT_EQ("could not convert calendar time to local time|-1|" + pid, r.out);
  EXPECT_EQ("2026-Dec-05 21:11:47 [" + pid + "] Warning: low disk\nError: Not enough memory\n", cf_read_file(path));
}

// A sink for the settings; like the daemon, the caller has no additional logs of its own.
std::shared_ptr<cf_log_t> make(qn::Log::LogType type, std::string const& path = "", bool stamp = false) {
  qn::Log settings;
  settings.set_type(type), settings.set_path(path), settings.set_show_timestamp(stamp);
  cf_log_t::callback_t plain, tagged;
  return cf_log_factory(settings, plain, tagged);
}

TEST(cf_log_factory, pipe_copies_lines_of_a_file_log_but_not_of_standard_error_and_files_are_0600) {
  test_log_t log;
  test_sandbox_t box;
  int pipe_fds[2];
  ASSERT_EQ(0, ::pipe2(pipe_fds, O_NONBLOCK));
  ::setenv("COM_QUARN_ADD_LOG_PIPE", "2147483648", 1);
  make(qn::Log::SYSLOG);
  std::string const fd = std::to_string(pipe_fds[1]);
  ::setenv("COM_QUARN_ADD_LOG_PIPE", ("+" + fd).c_str(), 1);
  std::string const old = box.write("old.log", "old\n"), fresh = box.file("fresh.log");
  make(qn::Log::FILE, fresh);
  EXPECT_EQ((lines_t{"Error: Log Factory: Wrong environment variable COM_QUARN_ADD_LOG_PIPE",
                     "Debug: Log Factory: Additional log - " + fd}),
            log.lines());
  cf_set_log(make(qn::Log::FILE, old));
  cf_log(3, "disk low");
  cf_log_threshold = CF_LOG_INFO;  // the factory's own lines would reach the pipe through the installed log
  for (bool stamp : {false, true}) {
    std::shared_ptr<cf_log_t> sink = make(qn::Log::STDERR, "", stamp);
    auto file = dynamic_cast<cf_file_log_t*>(sink.get());
    EXPECT_EQ(stamp, file && file->fd == 2 && !file->owns_fd);
    EXPECT_EQ(!stamp, dynamic_cast<cf_console_log_t*>(sink.get()) != nullptr);
    sink->additional_log("not copied");
  }
  char buffer[256];
  EXPECT_EQ("Warning: disk low\n", std::string(buffer, std::max<ssize_t>(0, ::read(pipe_fds[0], buffer, 256))));
  std::string const text = cf_read_file(old);
  EXPECT_EQ(0u, text.find("old\n")) << text;
  EXPECT_NE(std::string::npos, text.find("] Warning: disk low\n")) << text;
  struct stat st;
  EXPECT_EQ(0, ::stat(fresh.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  ::unsetenv("COM_QUARN_ADD_LOG_PIPE");
  for (int fd : pipe_fds) ::close(fd);
}

}  // namespace
