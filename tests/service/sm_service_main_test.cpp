// The daemon as ConfigD sees it: the real program over a real socket pair.

#include "service/sm_service_main.h"

#include <signal.h>
#include <unistd.h>

#include <string>

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "tests/service/sm_test_sandbox.h"
#include "tests/support/configd_peer.h"

namespace {

std::string const daemon_path = QN_BIN_DIR "/quarn-smbgardix";

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef qn::Configd2SMBGardixMessage in_t;

int count_of(std::string const& text, std::string const& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

#define EXPECT_LOGGED(peer, line) EXPECT_NE(std::string::npos, (peer).log().find(line)) << (peer).log()
#define EXPECT_NOT_LOGGED(peer, line) EXPECT_EQ(std::string::npos, (peer).log().find(line)) << (peer).log()

in_t fcheck_response(bool with_uid, std::uint32_t uid, bool with_path, bool with_error) {
  in_t message;
  message.set_tag(in_t::GET_FCHECK_RESPONSE);
  if (with_uid) message.set_uid(uid);
  if (with_path) message.set_socket_path("/run/fcheck.sock");
  if (with_error) message.mutable_error()->set_code(qn::EC_NO_FILE_CHECK);
  return message;
}

TEST(service_run, every_config_response_is_answered_with_revision_and_state) {
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  // Neither is answered, and neither ends the daemon.
  peer.send(fcheck_response(true, ::getuid(), true, false));
  in_t appinfo;
  appinfo.set_tag(in_t::APPINFO_NOTIFICATION);
  peer.send(appinfo);
  qn::SMBGardixConfig const config = configd_peer_t::stderr_config();

  struct step {
    std::uint32_t revision;
    bool suspended;
    bool with_control;
    qn::ErrorCode state;
  };
  step const steps[] = {
      {7, false, false, qn::EC_OK},            // no control at all
      {7, false, false, qn::EC_OK},            // identical again
      {8, true, false, qn::EC_APP_SUSPENDED},  // suspended
      {9, false, true, qn::EC_OK},             // control present, not suspended
      {0, true, true, qn::EC_APP_SUSPENDED},
  };
  for (step const& s : steps) {
    peer.send(configd_peer_t::config_response(s.revision, config, s.suspended, s.with_control));
    out_t info = peer.expect(out_t::MY_INFO_NOTIFICATION);
    EXPECT_TRUE(info.has_config_revision());
    EXPECT_EQ(s.revision, info.config_revision());
    ASSERT_TRUE(info.has_info());
    EXPECT_EQ(s.state, info.info().state());
    EXPECT_FALSE(info.has_uid());
    EXPECT_FALSE(info.has_stat());
  }
  peer.signal(SIGTERM);
  EXPECT_EQ(107, peer.wait());
}

TEST(service_run, sighup_asks_again_before_and_after_configuration) {
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.signal(SIGHUP);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.signal(SIGHUP);
  peer.expect(out_t::GET_CONFIG_REQUEST);

  peer.send(configd_peer_t::config_response(3, configd_peer_t::stderr_config(qn::LOG_LEVEL_NOTICE)));
  peer.expect(out_t::MY_INFO_NOTIFICATION);
  peer.signal(SIGHUP);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.send(configd_peer_t::config_response(4, configd_peer_t::stderr_config(qn::LOG_LEVEL_NOTICE)));
  EXPECT_EQ(4u, peer.expect(out_t::MY_INFO_NOTIFICATION).config_revision());

  peer.signal(SIGTERM);
  EXPECT_EQ(107, peer.wait());
  EXPECT_EQ(3, count_of(peer.log(), "Notice: SIGHUP received, config will be ordered from ConfigD\n")) << peer.log();
}

// "Notice: SMBGardix " and four dot-separated numbers make the first line.
bool is_version_line(std::string const& log) {
  std::string const marker = "Notice: SMBGardix ";
  if (log.compare(0, marker.size(), marker) != 0) return false;
  std::string const version = log.substr(marker.size(), log.find('\n') - marker.size());
  int dots = 0;
  for (char c : version) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3 && version.find("..") == std::string::npos && version.front() != '.' && version.back() != '.';
}

struct termination_case {
  char const* name;
  bool configured;
};

class service_termination : public ::testing::TestWithParam<termination_case> {};

TEST_P(service_termination, sigterm_ends_with_107) {
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  if (GetParam().configured) {
    peer.send(configd_peer_t::config_response(1, configd_peer_t::stderr_config()));
    peer.expect(out_t::MY_INFO_NOTIFICATION);
  }
  peer.signal(SIGTERM);
  EXPECT_EQ(107, peer.wait());
  EXPECT_TRUE(is_version_line(peer.log())) << peer.log();
  EXPECT_LOGGED(peer, "Notice: Termination signal received, exiting...\n");
  EXPECT_LOGGED(peer, "Notice: Exit with status 107 (Process terminated by signal)\n");
  EXPECT_TRUE(peer.at_end());
}

INSTANTIATE_TEST_SUITE_P(when, service_termination,
                         ::testing::Values(termination_case{"before_configuration", false},
                                           termination_case{"after_configuration", true}),
                         [](::testing::TestParamInfo<termination_case> const& info) { return info.param.name; });

struct bad_frame_case {
  char const* name;
  std::string bytes;
  char const* line;
};

class service_bad_frame : public ::testing::TestWithParam<bad_frame_case> {};

TEST_P(service_bad_frame, ends_with_1) {
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.send_raw(GetParam().bytes);
  EXPECT_EQ(1, peer.wait());
  EXPECT_LOGGED(peer, GetParam().line);
  EXPECT_LOGGED(peer, "Notice: Exit with status 1 (Error on monitor channel)\n");
}

INSTANTIATE_TEST_SUITE_P(frames, service_bad_frame,
                         ::testing::Values(bad_frame_case{"garbage", configd_peer_t::frame("\xff\xff\xff"),
                                                          "Error: Monitor connection: Invalid IPC message format\n"},
                                           bad_frame_case{"no_tag", configd_peer_t::frame(std::string("\x10\x05", 2)),
                                                          "Error: Monitor connection: Invalid IPC message format\n"},
                                           bad_frame_case{"unknown_tag",
                                                          configd_peer_t::frame(std::string("\x08\x09", 2)),
                                                          "Error: Monitor connection: Invalid IPC message format\n"},
                                           bad_frame_case{"zero_length", std::string(4, '\0'),
                                                          "Error: Monitor connection: Invalid IPC message size\n"},
                                           bad_frame_case{"length_above_limit", std::string("\x01\x00\x00\x04", 4),
                                                          "Error: Monitor connection: Invalid IPC message size\n"}),
                         [](::testing::TestParamInfo<bad_frame_case> const& info) { return info.param.name; });

struct argument_case {
  char const* name;
  in_t message;
  char const* line;
};

std::vector<argument_case> argument_cases() {
  std::vector<argument_case> cases;
  in_t no_revision = configd_peer_t::config_response(1, configd_peer_t::stderr_config());
  no_revision.clear_config_revision();
  cases.push_back({"config_without_revision", no_revision,
                   "Error: Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config_revision()\n"});
  in_t no_config = configd_peer_t::config_response(1, configd_peer_t::stderr_config());
  no_config.clear_config();
  cases.push_back({"config_without_config", no_config,
                   "Error: Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config()\n"});
  cases.push_back({"fcheck_without_uid", fcheck_response(false, 0, true, false),
                   "Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: message.has_uid()\n"});
  cases.push_back({"fcheck_without_path_or_error", fcheck_response(true, ::getuid(), false, false),
                   "Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: message.has_socket_path() || "
                   "message.has_error()\n"});
  cases.push_back({"fcheck_for_another_user", fcheck_response(true, ::getuid() + 1, true, false),
                   "Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: message.uid() == getuid()\n"});
  cases.push_back({"fcheck_error_for_another_user", fcheck_response(true, ::getuid() + 1, false, true),
                   "Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: message.uid() == getuid()\n"});
  return cases;
}

class service_argument_check : public ::testing::TestWithParam<argument_case> {};

TEST_P(service_argument_check, ends_with_12) {
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.send(GetParam().message);
  EXPECT_EQ(12, peer.wait());
  EXPECT_LOGGED(peer, GetParam().line);
  EXPECT_LOGGED(peer, "Notice: Exit with status 12 (Protocol violation)\n");
}

INSTANTIATE_TEST_SUITE_P(messages, service_argument_check, ::testing::ValuesIn(argument_cases()),
                         [](::testing::TestParamInfo<argument_case> const& info) { return info.param.name; });

TEST(service_run, log_file_that_cannot_be_created_ends_with_102) {
  sm_test_sandbox_t sandbox;
  qn::SMBGardixConfig config;
  config.mutable_actual_log()->set_type(qn::Log::FILE);
  config.mutable_actual_log()->set_path((sandbox / "missing/daemon.log").string());
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.send(configd_peer_t::config_response(1, config));
  EXPECT_EQ(102, peer.wait());
  EXPECT_LOGGED(peer, "Error: Cannot create log");
  EXPECT_LOGGED(peer, "Notice: Exit with status 102 (Invalid configuration)\n");
  EXPECT_FALSE(boost::filesystem::exists(sandbox / "missing"));
}

TEST(service_run, log_file_receives_the_held_back_lines) {
  sm_test_sandbox_t sandbox;
  boost::filesystem::path const log_file = sandbox / "daemon.log";
  qn::SMBGardixConfig config;
  config.set_log_level(qn::LOG_LEVEL_INFO);
  config.mutable_actual_log()->set_type(qn::Log::FILE);
  config.mutable_actual_log()->set_path(log_file.string());
  configd_peer_t peer(daemon_path);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.send(configd_peer_t::config_response(1, config));
  peer.expect(out_t::MY_INFO_NOTIFICATION);
  peer.signal(SIGTERM);
  EXPECT_EQ(107, peer.wait());
  std::string text;
  {
    std::FILE* f = std::fopen(log_file.c_str(), "r");
    ASSERT_NE(nullptr, f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  EXPECT_NE(std::string::npos, text.find("] Notice: SMBGardix ")) << text;
  EXPECT_NE(std::string::npos, text.find("] Notice: Exit with status 107 (Process terminated by signal)\n")) << text;
  EXPECT_EQ(std::string::npos, peer.log().find("SMBGardix")) << peer.log();
}

struct threshold_case {
  char const* name;
  qn::LogLevel level;
  bool start_line_shown;
};

class service_held_back_lines : public ::testing::TestWithParam<threshold_case> {};

// ConfigD closing the socket after the first settings, at each log level.
TEST_P(service_held_back_lines, appear_only_when_they_pass_the_new_threshold) {
  configd_peer_t peer(daemon_path);
  out_t first = peer.expect(out_t::GET_CONFIG_REQUEST);
  EXPECT_EQ(std::string("\x08\x01", 2), first.SerializeAsString()) << "the request carries its tag only";
  peer.send(configd_peer_t::config_response(1, configd_peer_t::stderr_config(GetParam().level)));
  peer.expect(out_t::MY_INFO_NOTIFICATION);
  peer.close_socket();
  EXPECT_EQ(1, peer.wait());
  if (GetParam().start_line_shown)
    EXPECT_LOGGED(peer, "Notice: SMBGardix ");
  else
    EXPECT_NOT_LOGGED(peer, "SMBGardix ");
  EXPECT_LOGGED(peer, "Error: Monitor connection: End of file\n");
  if (GetParam().start_line_shown)
    EXPECT_LOGGED(peer, "Notice: Exit with status 1 (Error on monitor channel)\n");
  else
    EXPECT_NOT_LOGGED(peer, "Exit with status");
}

INSTANTIATE_TEST_SUITE_P(levels, service_held_back_lines,
                         ::testing::Values(threshold_case{"debug", qn::LOG_LEVEL_DEBUG, true},
                                           threshold_case{"notice", qn::LOG_LEVEL_NOTICE, true},
                                           threshold_case{"warning", qn::LOG_LEVEL_WARNING, false},
                                           threshold_case{"error", qn::LOG_LEVEL_ERROR, false}),
                         [](::testing::TestParamInfo<threshold_case> const& info) { return info.param.name; });

struct monitor_case {
  char const* name;
  std::string value;
};

class service_bad_monitor : public ::testing::TestWithParam<monitor_case> {};

TEST_P(service_bad_monitor, ends_with_125) {
  configd_peer_t peer(daemon_path, GetParam().value, 3);
  EXPECT_EQ(125, peer.wait());
  EXPECT_LOGGED(peer, "Error: bad lexical cast: source type value could not be interpreted as target\n");
  EXPECT_LOGGED(peer, "Notice: Exit with status 125 (Unexpected error)\n");
  EXPECT_TRUE(peer.at_end()) << "nothing may be sent";
}

INSTANTIATE_TEST_SUITE_P(values, service_bad_monitor,
                         ::testing::Values(monitor_case{"empty", ""}, monitor_case{"trailing_letter", "12a"},
                                           monitor_case{"leading_blank", " 5"},
                                           monitor_case{"above_int", "2147483648"}),
                         [](::testing::TestParamInfo<monitor_case> const& info) { return info.param.name; });

struct good_monitor_case {
  char const* name;
  std::string value;
  int fd;
};

class service_good_monitor : public ::testing::TestWithParam<good_monitor_case> {};

TEST_P(service_good_monitor, is_used_as_the_descriptor) {
  configd_peer_t peer(daemon_path, GetParam().value, GetParam().fd);
  peer.expect(out_t::GET_CONFIG_REQUEST);
  peer.signal(SIGTERM);
  EXPECT_EQ(107, peer.wait());
}

INSTANTIATE_TEST_SUITE_P(values, service_good_monitor,
                         ::testing::Values(good_monitor_case{"plus_five", "+5", 5},
                                           good_monitor_case{"minus_zero", "-0", 0}),
                         [](::testing::TestParamInfo<good_monitor_case> const& info) { return info.param.name; });

struct parse_case {
  char const* value;
  bool ok;
  int fd;
};

TEST(service_monitor_value, parses_a_signed_decimal_int) {
  parse_case const cases[] = {
      {"3", true, 3},
      {"+5", true, 5},
      {"-0", true, 0},
      {"-2147483648", true, -2147483648},
      {"2147483647", true, 2147483647},
      {"0007", true, 7},
      {"", false, 0},
      {"12a", false, 0},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"1e3", false, 0},
      {"3.0", false, 0},
      {"0x3", false, 0},
      {"+-3", false, 0},
      {"--3", false, 0},
      {"\t3", false, 0},
      {"4294967295", false, 0},
      {"-4294967295", false, 0},
      {"00000000002147483647", true, 2147483647},
  };
  for (parse_case const& c : cases) {
    if (c.ok) {
      EXPECT_EQ(c.fd, sm_parse_monitor_fd(c.value)) << '"' << c.value << '"';
    } else {
      try {
        sm_parse_monitor_fd(c.value);
        ADD_FAILURE() << "accepted \"" << c.value << '"';
      } catch (boost::bad_lexical_cast const& e) {
        EXPECT_STREQ("bad lexical cast: source type value could not be interpreted as target", e.what());
      }
    }
  }
}

}  // namespace
