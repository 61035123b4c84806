// The ConfigD stand-in in front of the real daemon.

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/sm_test_sandbox.h"
#include "tests/support/configd_peer.h"

namespace {

void write_file(boost::filesystem::path const& path, std::string const& text) { std::ofstream(path.string()) << text; }

class configd_stub_test : public ::testing::Test {
 protected:
  void SetUp() override { write_file(config, "log_level: LOG_LEVEL_NOTICE\nactual_log { type: STDERR }\n"); }

  // The stand-in with `args`, starting the daemon of this build.
  std::unique_ptr<configd_peer_t> start(std::vector<std::string> args) {
    args.insert(args.begin(), QN_BIN_DIR "/configd-stub");
    args.insert(args.end(), {"--daemon", QN_BIN_DIR "/quarn-smbgardix"});
    return std::unique_ptr<configd_peer_t>(new configd_peer_t(args, nullptr));
  }

  sm_test_sandbox_t sandbox;
  std::string const config = (sandbox / "smbgardix.conf").string();
};

TEST_F(configd_stub_test, answers_prints_forwards_and_pushes) {
  auto stub = start({"--config", config, "--revision", "17", "--suspended", "--fcheck-socket", "/run/fc.sock"});
  std::string const info = "tag: MY_INFO_NOTIFICATION config_revision: 17 info { state: EC_APP_SUSPENDED }";
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub->next_line());
  EXPECT_EQ(info, stub->next_line());

  stub->signal(SIGHUP);
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub->next_line());
  EXPECT_EQ(info, stub->next_line());

  // The settings are read again for an unprompted push.
  write_file(config, "log_level: LOG_LEVEL_ERROR\nactual_log { type: STDERR }\n");
  stub->signal(SIGUSR1);
  EXPECT_EQ(info, stub->next_line());

  // An interrupt is forwarded as a termination.
  stub->signal(SIGINT);
  EXPECT_EQ(107, stub->wait());
  EXPECT_EQ("", stub->output());
  EXPECT_NE(std::string::npos, stub->log().find("Notice: SIGHUP received, config will be ordered from ConfigD\n"))
      << stub->log();
  // At Error level the termination lines are no longer written.
  EXPECT_EQ(std::string::npos, stub->log().find("Termination signal received")) << stub->log();
}

TEST_F(configd_stub_test, refuses_bad_settings_before_starting_the_daemon) {
  std::string const missing = (sandbox / "missing.conf").string();
  std::string const bad = (sandbox / "bad.conf").string();
  write_file(bad, "log_level: NO_SUCH_LEVEL\n");
  struct bad_start_case {
    std::vector<std::string> args;
    std::string message;
  };
  bad_start_case const cases[] = {
      {{}, "--config"},
      {{"--config", missing}, "configd-stub: cannot read " + missing},
      {{"--config", bad}, "configd-stub: " + bad + " is no qn.SMBGardixConfig in text format"},
  };
  for (bad_start_case const& c : cases) {
    SCOPED_TRACE(c.message);
    auto stub = start(c.args);
    EXPECT_EQ(2, stub->wait());
    EXPECT_NE(std::string::npos, stub->log().find(c.message)) << stub->log();
    EXPECT_EQ(std::string::npos, stub->log().find("Notice: SMBGardix ")) << "the daemon must not run";
  }
}

}  // namespace
