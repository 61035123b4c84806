// The ConfigD stand-in in front of the real daemon.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/sm_test_sandbox.h"

namespace {

std::string const stub_path = QN_BIN_DIR "/configd-stub";
std::string const daemon_path = QN_BIN_DIR "/quarn-smbgardix";

// The stand-in as a child process with its standard output and error collected.
class stub_run_t {
 public:
  explicit stub_run_t(std::vector<std::string> args) {
    args.insert(args.begin(), stub_path);
    args.push_back("--daemon");
    args.push_back(daemon_path);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::signal(SIGPIPE, SIG_DFL);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_fd = out[0];
    err_fd = err[0];
  }

  ~stub_run_t() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      int ignored;
      ::waitpid(pid, &ignored, 0);
    }
    if (out_fd >= 0) ::close(out_fd);
    if (err_fd >= 0) ::close(err_fd);
  }

  // The next line of standard output, without its line feed; empty at the end.
  std::string next_line() {
    for (;;) {
      std::size_t const end = out_text.find('\n');
      if (end != std::string::npos) {
        std::string line = out_text.substr(0, end);
        out_text.erase(0, end + 1);
        return line;
      }
      if (out_fd < 0 || !read_more(out_fd, out_text)) return std::string();
    }
  }

  void signal(int number) { ASSERT_EQ(0, ::kill(pid, number)); }

  int wait() {
    while (err_fd >= 0 && read_more(err_fd, err_text)) {
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    while (out_fd >= 0 && read_more(out_fd, out_text)) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }

  std::string const& err() const { return err_text; }
  std::string const& rest_of_output() const { return out_text; }

 private:
  // False at the end of the stream or after a stall.
  bool read_more(int& fd, std::string& into) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20000) != 1) {
      ADD_FAILURE() << "the stand-in stalled";
      return false;
    }
    char buf[4096];
    ssize_t const got = ::read(fd, buf, sizeof buf);
    if (got <= 0) {
      ::close(fd);
      fd = -1;
      return false;
    }
    into.append(buf, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
  std::string out_text;
  std::string err_text;
};

void write_file(boost::filesystem::path const& path, std::string const& text) { std::ofstream(path.string()) << text; }

class configd_stub_test : public ::testing::Test {
 protected:
  void SetUp() override {
    config = (sandbox / "smbgardix.conf").string();
    write_file(config, "log_level: LOG_LEVEL_NOTICE\nactual_log { type: STDERR }\n");
  }

  sm_test_sandbox_t sandbox;
  std::string config;
};

TEST_F(configd_stub_test, answers_prints_forwards_and_pushes) {
  stub_run_t stub({"--config", config, "--revision", "17", "--suspended", "--fcheck-socket", "/run/fc.sock"});
  std::string const info = "tag: MY_INFO_NOTIFICATION config_revision: 17 info { state: EC_APP_SUSPENDED }";
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub.next_line());
  EXPECT_EQ(info, stub.next_line());

  stub.signal(SIGHUP);
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub.next_line());
  EXPECT_EQ(info, stub.next_line());

  // The settings are read again for an unprompted push.
  write_file(config, "log_level: LOG_LEVEL_ERROR\nactual_log { type: STDERR }\n");
  stub.signal(SIGUSR1);
  EXPECT_EQ(info, stub.next_line());

  stub.signal(SIGTERM);
  EXPECT_EQ(107, stub.wait());
  EXPECT_EQ("", stub.rest_of_output());
  EXPECT_NE(std::string::npos, stub.err().find("Notice: SIGHUP received, config will be ordered from ConfigD\n"))
      << stub.err();
  // At Error level the termination lines are no longer written.
  EXPECT_EQ(std::string::npos, stub.err().find("Termination signal received")) << stub.err();
}

TEST_F(configd_stub_test, interrupt_is_forwarded_as_termination) {
  stub_run_t stub({"--config", config});
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub.next_line());
  EXPECT_EQ("tag: MY_INFO_NOTIFICATION config_revision: 1 info { state: EC_OK }", stub.next_line());
  stub.signal(SIGINT);
  EXPECT_EQ(107, stub.wait());
  EXPECT_NE(std::string::npos, stub.err().find("Notice: Exit with status 107 (Process terminated by signal)\n"))
      << stub.err();
}

struct bad_start_case {
  char const* name;
  char const* file_text;  // null: no file
  char const* message;
};

class configd_stub_bad_start : public configd_stub_test, public ::testing::WithParamInterface<bad_start_case> {};

TEST_P(configd_stub_bad_start, refuses_before_starting_the_daemon) {
  std::string const path = (sandbox / "settings.conf").string();
  if (GetParam().file_text) write_file(path, GetParam().file_text);
  stub_run_t stub({"--config", path});
  EXPECT_EQ(2, stub.wait());
  EXPECT_EQ("", stub.rest_of_output());
  EXPECT_NE(std::string::npos, stub.err().find(GetParam().message)) << stub.err();
  EXPECT_EQ(std::string::npos, stub.err().find("Notice: SMBGardix ")) << "the daemon must not run";
}

INSTANTIATE_TEST_SUITE_P(files, configd_stub_bad_start,
                         ::testing::Values(bad_start_case{"missing", nullptr, "configd-stub: cannot read "},
                                           bad_start_case{"not_text_format", "log_level: NO_SUCH_LEVEL\n",
                                                          " is no qn.SMBGardixConfig in text format"}),
                         [](::testing::TestParamInfo<bad_start_case> const& info) { return info.param.name; });

TEST(configd_stub_usage, missing_config_option_is_a_usage_error) {
  stub_run_t stub({});
  EXPECT_EQ(2, stub.wait());
  EXPECT_NE(std::string::npos, stub.err().find("--config")) << stub.err();
}

}  // namespace
