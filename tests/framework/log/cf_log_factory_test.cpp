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
#include "framework/util/cf_io.h"
#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::events_t;

char const g_variable[] = "COM_QUARN_ADD_LOG_PIPE";

// A fresh log with a recording sink, the pipe variable unset, the system-log
// calls recorded, and a pipe whose write end can be named in the variable.
class cf_log_factory_test : public log_test::fresh_log_test {
 protected:
  void SetUp() override {
    log_test::fresh_log_test::SetUp();
    ::unsetenv(g_variable);
    cf_set_log(std::make_shared<log_test::recording_log_t>(events_));
    events_->clear();
    ASSERT_EQ(0, ::pipe2(pipe_, O_NONBLOCK));
  }
  void TearDown() override {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
    ::unsetenv(g_variable);
    log_test::fresh_log_test::TearDown();
  }
  void set_pipe_variable() { ::setenv(g_variable, std::to_string(pipe_[1]).c_str(), 1); }
  std::string pipe_contents() {
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipe_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
  }
  static qn::Log settings(qn::Log::LogType type) {
    qn::Log log;
    log.set_type(type);
    return log;
  }
  // Makes a sink with the callbacks plain_ and tagged_, which the factory may fill in.
  std::shared_ptr<cf_log_t> make(qn::Log const& log) { return cf_log_factory(log, plain_, tagged_); }

  std::shared_ptr<events_t> events_ = std::make_shared<events_t>();
  cf_log_t::callback_t plain_, tagged_;
  int pipe_[2] = {-1, -1};
  log_test::syslog_recorder_t recorder_;
};

TEST_F(cf_log_factory_test, pipe_variable_values) {
  struct row_t {
    char const* value;  // null: not set
    char const* line;   // what the factory logs
  };
  char const* const wrong = "sink write 4 Log Factory: Wrong environment variable COM_QUARN_ADD_LOG_PIPE";
  for (row_t const& row : {row_t{nullptr, nullptr}, row_t{"+7", "sink write 0 Log Factory: Additional log - 7"},
                           row_t{"-1", "sink write 0 Log Factory: Additional log - -1"},
                           row_t{"-2147483648", "sink write 0 Log Factory: Additional log - -2147483648"},
                           row_t{"", wrong}, row_t{"x7", wrong}, row_t{"7x", wrong}, row_t{"+", wrong},
                           row_t{" 7", wrong}, row_t{"2147483648", wrong}, row_t{"0x7", wrong}}) {
    if (row.value) ::setenv(g_variable, row.value, 1);
    events_->clear();
    plain_ = tagged_ = cf_log_t::callback_t();
    ASSERT_TRUE(make(settings(qn::Log::SYSLOG)));
    EXPECT_EQ(row.line ? events_t{row.line} : events_t{}, *events_) << "'" << row.value << "'";
    // Always callable; on descriptor -1 every copy fails silently.
    ASSERT_TRUE(plain_ && tagged_);
    plain_("lost");
  }

  // The factory's own lines wait for the threshold.
  events_->clear();
  cf_log_threshold = CF_LOG_INFO;
  set_pipe_variable();
  plain_ = cf_log_t::callback_t();
  make(settings(qn::Log::SYSLOG));
  cf_log_threshold = 5;
  ::setenv(g_variable, "bad", 1);
  plain_ = cf_log_t::callback_t();
  make(settings(qn::Log::SYSLOG));
  EXPECT_EQ(events_t{}, *events_);
}

TEST_F(cf_log_factory_test, pipe_gets_a_copy_of_every_line) {
  set_pipe_variable();
  std::shared_ptr<cf_log_t> sink = make(settings(qn::Log::SYSLOG));
  cf_set_log(sink);
  cf_log(3, "disk low");
  cf_log_tagged("db", 2, "slow");
  plain_("direct");  // the caller's arguments were filled with the same writer
  EXPECT_EQ("Warning: disk low\n[db-2] slow\ndirect\n", pipe_contents());
}

TEST_F(cf_log_factory_test, callbacks_of_the_caller_are_kept) {
  ::setenv(g_variable, "x7", 1);
  events_t seen;
  plain_ = [&](std::string const& s) { seen.push_back("plain " + s); };
  std::shared_ptr<cf_log_t> sink = make(settings(qn::Log::SYSLOG));
  EXPECT_EQ(events_t{}, *events_);  // the variable is not even read
  sink->additional_log("a");
  sink->additional_tagged_log("b");
  tagged_ = [&](std::string const& s) { seen.push_back("tagged " + s); };
  make(settings(qn::Log::SYSLOG))->additional_tagged_log("c");
  EXPECT_EQ((events_t{"plain a", "plain b", "tagged c"}), seen);
}

TEST_F(cf_log_factory_test, standard_error_log_drops_the_pipe_copy_but_not_a_callback_of_the_caller) {
  set_pipe_variable();
  for (bool show_timestamp : {false, true}) {
    plain_ = tagged_ = cf_log_t::callback_t();
    qn::Log log = settings(qn::Log::STDERR);
    log.set_show_timestamp(show_timestamp);
    std::shared_ptr<cf_log_t> sink = make(log);
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
  events_t seen;
  plain_ = [&](std::string const& s) { seen.push_back(s); };
  tagged_ = cf_log_t::callback_t();
  std::shared_ptr<cf_log_t> sink = make(settings(qn::Log::STDERR));
  sink->additional_log("a");
  sink->additional_tagged_log("b");
  EXPECT_EQ((events_t{"a", "b"}), seen);
}

TEST_F(cf_log_factory_test, syslog_facility_and_ident) {
  struct row_t {
    int value;  // 0: not set
    int facility;
  };
  for (row_t const& row :
       {row_t{0, LOG_DAEMON}, row_t{qn::Log::DAEMON, LOG_DAEMON}, row_t{qn::Log::USER, LOG_USER},
        row_t{qn::Log::MAIL, LOG_MAIL}, row_t{qn::Log::LOCAL0, LOG_LOCAL0}, row_t{qn::Log::LOCAL1, LOG_LOCAL1},
        row_t{qn::Log::LOCAL2, LOG_LOCAL2}, row_t{qn::Log::LOCAL3, LOG_LOCAL3}, row_t{qn::Log::LOCAL4, LOG_LOCAL4},
        row_t{qn::Log::LOCAL5, LOG_LOCAL5}, row_t{qn::Log::LOCAL6, LOG_LOCAL6}, row_t{qn::Log::LOCAL7, LOG_LOCAL7}}) {
    qn::Log log = settings(qn::Log::SYSLOG);
    if (row.value) {
      log.set_facility(static_cast<qn::Log::LogFacility>(row.value));
      log.set_ident("guard");
    }
    cf_set_log(make(log));
    ASSERT_FALSE(recorder_.calls().empty());
    std::string const ident = row.value ? "guard" : "(null)";
    EXPECT_EQ("openlog " + ident + " " + std::to_string(LOG_PID) + " " + std::to_string(row.facility),
              recorder_.calls().back())
        << row.value;
  }
}

TEST_F(cf_log_factory_test, file_log_appends_to_a_file_of_mode_0600_and_auto_gives_no_sink) {
  EXPECT_FALSE(make(settings(qn::Log::AUTO)));
  qn_test::sandbox_t box;
  std::string const old = box.write("old.log", "old\n"), fresh = box.file("fresh.log");
  for (std::string const& path : {old, fresh}) {
    qn::Log log = settings(qn::Log::FILE);
    log.set_path(path);
    std::shared_ptr<cf_log_t> sink = make(log);
    auto file_sink = dynamic_cast<cf_file_log_t*>(sink.get());
    ASSERT_NE(nullptr, file_sink);
    EXPECT_TRUE(file_sink->owns_fd);
    sink->write(4, "new");
  }
  std::string const text = cf_read_file(old);
  EXPECT_EQ(0u, text.find("old\n")) << text;
  EXPECT_NE(std::string::npos, text.find("] Error: new\n")) << text;
  struct stat st;
  ASSERT_EQ(0, ::stat(fresh.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);

  qn::Log log = settings(qn::Log::FILE);
  log.set_path(box.file("missing/dir/smb.log"));
  try {
    make(log);
    ADD_FAILURE() << "no exception";
  } catch (boost::filesystem::filesystem_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOENT, boost::system::system_category()), e.code());
    EXPECT_EQ(0u, std::string(e.what()).find("Cannot create log")) << e.what();
    EXPECT_EQ(log.path(), e.path1().string());
  }
}

}  // namespace
