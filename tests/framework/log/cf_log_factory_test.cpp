#include "framework/log/cf_log_factory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <cstdlib>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_file_log.h"
#include "framework/log/cf_syslog_log.h"
#include "tests/framework/log/log_test_support.h"
#include "tests/framework/log/syslog_recorder.h"

namespace {

using log_test::make_events;
using log_test::recording_log_t;
using Events = std::vector<std::string>;

char const g_variable[] = "COM_QUARN_ADD_LOG_PIPE";

// A fresh log with a recording sink, the pipe variable saved and restored,
// and a pipe whose write end can be named in the variable.
class cf_log_factory_test : public log_test::fresh_log_test {
 protected:
  void SetUp() override {
    log_test::fresh_log_test::SetUp();
    if (char const* value = std::getenv(g_variable)) saved_ = value, had_ = true;
    ::unsetenv(g_variable);
    events_ = make_events();
    cf_set_log(std::make_shared<recording_log_t>(events_));
    events_->clear();
    ASSERT_EQ(0, ::pipe2(pipe_, O_NONBLOCK));
  }
  void TearDown() override {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
    if (had_)
      ::setenv(g_variable, saved_.c_str(), 1);
    else
      ::unsetenv(g_variable);
    log_test::fresh_log_test::TearDown();
  }
  std::string pipe_contents() {
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipe_[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }
  static qn::Log settings(qn::Log::LogType type) {
    qn::Log log;
    log.set_type(type);
    return log;
  }

  std::shared_ptr<Events> events_;
  int pipe_[2] = {-1, -1};
  log_test::sandbox_t sandbox_;

 private:
  std::string saved_;
  bool had_ = false;
};

TEST_F(cf_log_factory_test, pipe_variable_values) {
  log_test::syslog_recorder_t recorder;
  struct row_t {
    char const* value;
    char const* line;  // what the factory logs
  };
  char const* const wrong = "sink write 4 Log Factory: Wrong environment variable COM_QUARN_ADD_LOG_PIPE";
  for (row_t const& row :
       {row_t{"+7", "sink write 0 Log Factory: Additional log - 7"},
        row_t{"-1", "sink write 0 Log Factory: Additional log - -1"},
        row_t{"7", "sink write 0 Log Factory: Additional log - 7"},
        row_t{"-2147483648", "sink write 0 Log Factory: Additional log - -2147483648"},
        row_t{"2147483647", "sink write 0 Log Factory: Additional log - 2147483647"}, row_t{"", wrong},
        row_t{"x7", wrong}, row_t{"7x", wrong}, row_t{"+", wrong}, row_t{"-", wrong}, row_t{" 7", wrong},
        row_t{"7 ", wrong}, row_t{"2147483648", wrong}, row_t{"-2147483649", wrong},
        row_t{"99999999999999999999", wrong}, row_t{"0x7", wrong}, row_t{"+-7", wrong}}) {
    ::setenv(g_variable, row.value, 1);
    events_->clear();
    cf_log_t::callback_t plain;
    cf_log_t::callback_t tagged;
    std::shared_ptr<cf_log_t> sink = cf_log_factory(settings(qn::Log::SYSLOG), plain, tagged);
    EXPECT_EQ((Events{row.line}), *events_) << "'" << row.value << "'";
    EXPECT_TRUE(plain && tagged) << row.value;
    // The descriptor -1 is accepted: every copy fails silently.
    ASSERT_TRUE(sink);
    if (std::string(row.value) == "-1") {
      EXPECT_NO_THROW(sink->additional_log("lost"));
    }
  }
}

TEST_F(cf_log_factory_test, threshold_silences_the_factory_lines) {
  log_test::syslog_recorder_t recorder;
  cf_log_t::callback_t plain;
  cf_log_t::callback_t tagged;
  ::setenv(g_variable, std::to_string(pipe_[1]).c_str(), 1);
  cf_log_threshold = CF_LOG_INFO;
  cf_log_factory(settings(qn::Log::SYSLOG), plain, tagged);
  ::setenv(g_variable, "bad", 1);
  plain = tagged = cf_log_t::callback_t();
  cf_log_threshold = 5;
  cf_log_factory(settings(qn::Log::SYSLOG), plain, tagged);
  EXPECT_EQ(Events{}, *events_);
}

TEST_F(cf_log_factory_test, pipe_gets_a_copy_of_every_line) {
  log_test::syslog_recorder_t recorder;
  ::setenv(g_variable, std::to_string(pipe_[1]).c_str(), 1);
  cf_log_t::callback_t plain;
  cf_log_t::callback_t tagged;
  std::shared_ptr<cf_log_t> sink = cf_log_factory(settings(qn::Log::SYSLOG), plain, tagged);
  ASSERT_TRUE(sink);
  cf_set_log(sink);
  cf_log(3, "disk low");
  cf_log_tagged("db", 2, "slow");
  // The caller's arguments were filled in place with the same writer.
  plain("direct");
  EXPECT_EQ("Warning: disk low\n[db-2] slow\ndirect\n", pipe_contents());
}

TEST_F(cf_log_factory_test, variable_not_set_gives_callbacks_that_do_nothing) {
  log_test::syslog_recorder_t recorder;
  cf_log_t::callback_t plain;
  cf_log_t::callback_t tagged;
  std::shared_ptr<cf_log_t> sink = cf_log_factory(settings(qn::Log::SYSLOG), plain, tagged);
  EXPECT_EQ(Events{}, *events_);
  ASSERT_TRUE(plain && tagged);
  EXPECT_NO_THROW(plain("x"));
  EXPECT_NO_THROW(sink->additional_tagged_log("x"));
}

TEST_F(cf_log_factory_test, callbacks_of_the_caller_are_kept) {
  log_test::syslog_recorder_t recorder;
  ::setenv(g_variable, "x7", 1);
  std::vector<std::string> seen;
  cf_log_t::callback_t plain = [&](std::string const& s) { seen.push_back("plain " + s); };
  cf_log_t::callback_t tagged;
  std::shared_ptr<cf_log_t> sink = cf_log_factory(settings(qn::Log::SYSLOG), plain, tagged);
  // The variable is not even read.
  EXPECT_EQ(Events{}, *events_);
  sink->additional_log("a");
  sink->additional_tagged_log("b");
  EXPECT_EQ((std::vector<std::string>{"plain a", "plain b"}), seen);

  cf_log_t::callback_t own_tagged = [&](std::string const& s) { seen.push_back("tagged " + s); };
  sink = cf_log_factory(settings(qn::Log::SYSLOG), plain, own_tagged);
  sink->additional_tagged_log("c");
  EXPECT_EQ("tagged c", seen.back());
}

TEST_F(cf_log_factory_test, standard_error_log_drops_the_pipe_copy) {
  ::setenv(g_variable, std::to_string(pipe_[1]).c_str(), 1);
  for (bool show_timestamp : {false, true}) {
    events_->clear();
    qn::Log log = settings(qn::Log::STDERR);
    log.set_show_timestamp(show_timestamp);
    cf_log_t::callback_t plain;
    cf_log_t::callback_t tagged;
    std::shared_ptr<cf_log_t> sink = cf_log_factory(log, plain, tagged);
    ASSERT_TRUE(sink);
    EXPECT_EQ((Events{"sink write 0 Log Factory: Additional log - " + std::to_string(pipe_[1])}), *events_);
    if (show_timestamp) {
      auto file = dynamic_cast<cf_file_log_t*>(sink.get());
      ASSERT_NE(nullptr, file);
      EXPECT_EQ(2, file->fd);
      EXPECT_FALSE(file->owns_fd);
    } else {
      EXPECT_NE(nullptr, dynamic_cast<cf_console_log_t*>(sink.get()));
    }
    sink->additional_log("plain");
    sink->additional_tagged_log("tagged");
    EXPECT_EQ("", pipe_contents());
  }
}

TEST_F(cf_log_factory_test, standard_error_log_keeps_a_callback_of_the_caller) {
  ::setenv(g_variable, std::to_string(pipe_[1]).c_str(), 1);
  std::vector<std::string> seen;
  cf_log_t::callback_t plain = [&](std::string const& s) { seen.push_back(s); };
  cf_log_t::callback_t tagged;
  std::shared_ptr<cf_log_t> sink = cf_log_factory(settings(qn::Log::STDERR), plain, tagged);
  sink->additional_log("a");
  sink->additional_tagged_log("b");
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), seen);
}

TEST_F(cf_log_factory_test, syslog_facility_and_ident) {
  log_test::syslog_recorder_t recorder;
  struct row_t {
    qn::Log::LogFacility value;
    int facility;
  };
  for (row_t const& row :
       {row_t{qn::Log::DAEMON, LOG_DAEMON}, row_t{qn::Log::USER, LOG_USER}, row_t{qn::Log::MAIL, LOG_MAIL},
        row_t{qn::Log::LOCAL0, LOG_LOCAL0}, row_t{qn::Log::LOCAL1, LOG_LOCAL1}, row_t{qn::Log::LOCAL2, LOG_LOCAL2},
        row_t{qn::Log::LOCAL3, LOG_LOCAL3}, row_t{qn::Log::LOCAL4, LOG_LOCAL4}, row_t{qn::Log::LOCAL5, LOG_LOCAL5},
        row_t{qn::Log::LOCAL6, LOG_LOCAL6}, row_t{qn::Log::LOCAL7, LOG_LOCAL7}}) {
    qn::Log log = settings(qn::Log::SYSLOG);
    log.set_facility(row.value);
    log.set_ident("guard");
    cf_log_t::callback_t plain;
    cf_log_t::callback_t tagged;
    std::shared_ptr<cf_log_t> sink = cf_log_factory(log, plain, tagged);
    auto syslog_sink = dynamic_cast<cf_syslog_log_t*>(sink.get());
    ASSERT_NE(nullptr, syslog_sink) << row.value;
    EXPECT_EQ(row.facility, syslog_sink->facility) << row.value;
    EXPECT_EQ("guard", syslog_sink->ident);
  }
}

TEST_F(cf_log_factory_test, facility_numbers_outside_the_enum_give_daemon) {
  log_test::syslog_recorder_t recorder;
  for (int number : {0, 4, 5, 9, 18}) {
    // type SYSLOG (field 1), then facility (field 2) with the number.
    std::string wire = {0x08, 0x01, 0x10, static_cast<char>(number)};
    qn::Log log;
    ASSERT_TRUE(log.ParseFromString(wire));
    cf_log_t::callback_t plain;
    cf_log_t::callback_t tagged;
    std::shared_ptr<cf_log_t> sink = cf_log_factory(log, plain, tagged);
    auto syslog_sink = dynamic_cast<cf_syslog_log_t*>(sink.get());
    ASSERT_NE(nullptr, syslog_sink);
    EXPECT_EQ(LOG_DAEMON, syslog_sink->facility) << number;
    EXPECT_EQ("", syslog_sink->ident);
  }
}

TEST_F(cf_log_factory_test, default_settings_give_a_daemon_syslog_without_ident) {
  log_test::syslog_recorder_t recorder;
  cf_log_t::callback_t plain;
  cf_log_t::callback_t tagged;
  std::shared_ptr<cf_log_t> sink = cf_log_factory(qn::Log(), plain, tagged);
  cf_set_log(sink);
  EXPECT_EQ("openlog (null) " + std::to_string(LOG_PID) + " " + std::to_string(LOG_DAEMON), recorder.calls().at(0));
}

TEST_F(cf_log_factory_test, file_log_appends_to_a_file_of_mode_0600) {
  std::string const path = sandbox_.file("smb.log");
  {
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(4, ::write(fd, "old\n", 4));
    ::close(fd);
  }
  std::string const fresh = sandbox_.file("fresh.log");
  for (std::string const& file : {path, fresh}) {
    qn::Log log = settings(qn::Log::FILE);
    log.set_path(file);
    cf_log_t::callback_t plain;
    cf_log_t::callback_t tagged;
    std::shared_ptr<cf_log_t> sink = cf_log_factory(log, plain, tagged);
    auto file_sink = dynamic_cast<cf_file_log_t*>(sink.get());
    ASSERT_NE(nullptr, file_sink);
    EXPECT_TRUE(file_sink->owns_fd);
    sink->write(4, "new");
  }
  std::string const text = log_test::read_file(path);
  EXPECT_EQ(0u, text.find("old\n")) << text;
  EXPECT_NE(std::string::npos, text.find("] Error: new\n")) << text;
  struct stat st;
  ASSERT_EQ(0, ::stat(fresh.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST_F(cf_log_factory_test, log_file_that_cannot_be_opened_throws) {
  qn::Log log = settings(qn::Log::FILE);
  log.set_path(sandbox_.file("missing/dir/smb.log"));
  cf_log_t::callback_t plain;
  cf_log_t::callback_t tagged;
  try {
    cf_log_factory(log, plain, tagged);
    ADD_FAILURE() << "no exception";
  } catch (boost::filesystem::filesystem_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOENT, boost::system::system_category()), e.code());
    EXPECT_EQ(0u, std::string(e.what()).find("Cannot create log")) << e.what();
    EXPECT_EQ(log.path(), e.path1().string());
  }
}

TEST_F(cf_log_factory_test, auto_type_gives_no_sink) {
  cf_log_t::callback_t plain;
  cf_log_t::callback_t tagged;
  EXPECT_FALSE(cf_log_factory(settings(qn::Log::AUTO), plain, tagged));
}

}  // namespace
