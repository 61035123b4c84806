// The ConfigD stand-in in front of the real daemon.

#include <sys/stat.h>

#include <csignal>

#include <gtest/gtest.h>

#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"

namespace {

// The stand-in with `args`, starting `daemon`.
std::unique_ptr<configd_peer_t> start(std::vector<std::string> args,
                                      std::string const& daemon = QN_BIN_DIR "/quarn-smbgardix") {
  args.insert(args.begin(), QN_BIN_DIR "/configd-stub");
  args.insert(args.end(), {"--daemon", daemon});
  return std::unique_ptr<configd_peer_t>(new configd_peer_t(args, nullptr));
}

TEST(configd_stub, answers_prints_forwards_and_pushes) {
  test_sandbox_t box;
  std::string const listen = "samba_chroot_dir: \"" + box.path() + "\" smb_socket_path: \"s.sock\"\n";
  std::string const config =
      box.write("smbgardix.conf", "log_level: LOG_LEVEL_NOTICE\nactual_log { type: STDERR }\n" + listen);
  // Descriptor 64 is where the stand-in parks the socket before placing it.
  auto stub =
      start({"--config", config, "--revision", "17", "--suspended", "--fcheck-socket", "/run/fc.sock", "--fd", "64"});
  std::string const info = "tag: MY_INFO_NOTIFICATION config_revision: 17 info { state: EC_APP_SUSPENDED }";
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub->next_line());
  EXPECT_EQ(info, stub->next_line());
  stub->signal(SIGHUP);
  EXPECT_EQ("tag: GET_CONFIG_REQUEST", stub->next_line());
  EXPECT_EQ(info, stub->next_line());
  // The settings are read again for an unprompted push: at Error level the daemon's exit lines go.
  box.write("smbgardix.conf", "log_level: LOG_LEVEL_ERROR\nactual_log { type: STDERR }\n" + listen);
  stub->signal(SIGUSR1);
  EXPECT_EQ(info, stub->next_line());
  stub->signal(SIGINT);  // forwarded as a termination
  EXPECT_EQ(107, stub->wait());
  EXPECT_EQ("", stub->output());
  EXPECT_EQ(std::string::npos, stub->log().find("Exit with status")) << stub->log();
}

TEST(configd_stub, refuses_bad_settings_before_starting_the_daemon) {
  test_sandbox_t box;
  std::string const missing = box.file("missing.conf"), bad = box.write("bad.conf", "log_level: NO_SUCH_LEVEL\n");
  std::pair<std::vector<std::string>, std::string> const cases[] = {
      {{}, "--config"},
      {{"--config", missing}, "configd-stub: cannot read " + missing},
      {{"--config", bad}, "configd-stub: " + bad + " is no qn.SMBGardixConfig in text format"},
      {{"--config", missing, "--fd", "2"}, "configd-stub: --fd must be at least 3"},
      {{"--config", missing, "--fd", "1000000000"}, "configd-stub: --fd must be at least 3"}};
  for (auto const& [args, line] : cases) {
    auto stub = start(args);
    EXPECT_EQ(2, stub->wait()) << line;
    EXPECT_NE(std::string::npos, stub->log().find(line)) << stub->log();
    EXPECT_EQ(std::string::npos, stub->log().find("Notice: SMBGardix ")) << "the daemon must not run";
  }
}

// A daemon that drops its end of the link early still gets the signals until it exits.
TEST(configd_stub, forwards_signals_until_the_daemon_exits) {
  test_sandbox_t box;
  std::string const daemon =
      box.write("daemon.sh", "#!/bin/sh\nexec 3>&-\ntrap 'exit 7' TERM\necho closed\nwhile :; do sleep 0.01; done\n");
  ::chmod(daemon.c_str(), 0700);
  auto stub = start({"--config", box.write("smbgardix.conf", "")}, daemon);
  EXPECT_EQ("closed", stub->next_line());
  stub->signal(SIGINT);
  EXPECT_EQ(7, stub->wait());
}

}  // namespace
