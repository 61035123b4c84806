// The daemon as ConfigD sees it: the real program over a real socket pair.

#include "service/sm_service_main.h"

#include <unistd.h>

#include <csignal>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "tests/support/sandbox.h"
#include "tests/support/configd_peer.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef qn::Configd2SMBGardixMessage in_t;

std::vector<std::string> const daemon_argv = {QN_BIN_DIR "/quarn-smbgardix"};

#define EXPECT_LOGGED(peer, line) EXPECT_NE(std::string::npos, (peer).log().find(line)) << (peer).log()

// The daemon on descriptor 3, past its first frame: a GET_CONFIG_REQUEST
// carrying its tag only.
std::unique_ptr<configd_peer_t> start_daemon() {
  std::unique_ptr<configd_peer_t> peer(new configd_peer_t(daemon_argv, "3"));
  EXPECT_EQ(std::string("\x08\x01", 2), peer->expect(out_t::GET_CONFIG_REQUEST).SerializeAsString());
  return peer;
}

// SIGTERM, then the exit with its lines; the first line names the version.
void expect_termination(configd_peer_t& peer) {
  peer.signal(SIGTERM);
  EXPECT_EQ(107, peer.wait());
  EXPECT_TRUE(std::regex_search(peer.log(), std::regex("^Notice: SMBGardix [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << peer.log();
  EXPECT_LOGGED(peer, "Notice: Termination signal received, exiting...\n");
  EXPECT_LOGGED(peer, "Notice: Exit with status 107 (Process terminated by signal)\n");
  EXPECT_TRUE(peer.at_end());
}

in_t fcheck_response(bool with_uid, std::uint32_t uid, bool with_path) {
  in_t message;
  message.set_tag(in_t::GET_FCHECK_RESPONSE);
  if (with_uid) message.set_uid(uid);
  if (with_path) message.set_socket_path("/run/fcheck.sock");
  return message;
}

TEST(service_run, sigterm_before_configuration_ends_with_107) {
  std::unique_ptr<configd_peer_t> peer = start_daemon();
  expect_termination(*peer);
}

TEST(service_run, every_config_response_is_reported_and_sighup_asks_again) {
  std::unique_ptr<configd_peer_t> peer = start_daemon();
  peer->signal(SIGHUP);
  peer->expect(out_t::GET_CONFIG_REQUEST);
  // Neither is answered, and neither ends the daemon.
  peer->send(fcheck_response(true, ::getuid(), true));
  in_t appinfo;
  appinfo.set_tag(in_t::APPINFO_NOTIFICATION);
  peer->send(appinfo);

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
  };
  for (step const& s : steps) {
    peer->send(
        configd_peer_t::config_response(s.revision, configd_peer_t::stderr_config(), s.suspended, s.with_control));
    out_t info = peer->receive();
    // An unsuspended configuration starts the threats subscription first.
    if (info.tag() == out_t::GET_FCHECK_REQUEST) info = peer->receive();
    EXPECT_EQ(out_t::MY_INFO_NOTIFICATION, info.tag());
    EXPECT_EQ(s.revision, info.config_revision());
    EXPECT_TRUE(info.has_config_revision());
    EXPECT_EQ(s.state, info.info().state());
  }
  peer->signal(SIGHUP);
  peer->expect(out_t::GET_CONFIG_REQUEST);
  expect_termination(*peer);
  std::string const notice = "Notice: SIGHUP received, config will be ordered from ConfigD\n";
  std::size_t const first = peer->log().find(notice);
  EXPECT_NE(std::string::npos, peer->log().find(notice, first + 1)) << "one before, one after configuration";
}

TEST(service_run, fatal_input_ends_with_its_line_and_status) {
  test_sandbox_t sandbox;
  in_t no_revision = configd_peer_t::config_response(1, configd_peer_t::stderr_config());
  no_revision.clear_config_revision();
  in_t no_config = no_revision;
  no_config.set_config_revision(1);
  no_config.clear_config();
  qn::SMBGardixConfig file_log;
  file_log.mutable_actual_log()->set_type(qn::Log::FILE);
  file_log.mutable_actual_log()->set_path(sandbox.file("missing/daemon.log"));
  auto bytes = [](in_t const& message) { return configd_peer_t::frame(message.SerializeAsString()); };
  std::string const format = "Error: Monitor connection: Invalid IPC message format\n";
  std::string const size = "Error: Monitor connection: Invalid IPC message size\n";
  std::string const check = "Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: ";

  struct fatal_case {
    std::string bytes;
    std::string line;
    int status;
  };
  fatal_case const cases[] = {
      {configd_peer_t::frame("\xff\xff\xff"), format, 1},
      {configd_peer_t::frame(std::string("\x10\x05", 2)), format, 1},  // no tag
      {configd_peer_t::frame(std::string("\x08\x09", 2)), format, 1},  // unknown tag
      {std::string(4, '\0'), size, 1},
      {std::string("\x01\x00\x00\x04", 4), size, 1},  // one above 64 MiB
      {bytes(no_revision),
       "Error: Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config_revision()\n", 12},
      {bytes(no_config), "Error: Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config()\n", 12},
      {bytes(fcheck_response(false, 0, true)), check + "message.has_uid()\n", 12},
      {bytes(fcheck_response(true, ::getuid(), false)), check + "message.has_socket_path() || message.has_error()\n",
       12},
      {bytes(fcheck_response(true, ::getuid() + 1, true)), check + "message.uid() == getuid()\n", 12},
      {bytes(configd_peer_t::config_response(1, file_log)), "Error: Cannot create log", 102},
  };
  std::map<int, std::string> const reasons = {
      {1, "Error on monitor channel"}, {12, "Protocol violation"}, {102, "Invalid configuration"}};
  for (fatal_case const& c : cases) {
    SCOPED_TRACE(c.line);
    std::unique_ptr<configd_peer_t> peer = start_daemon();
    peer->send_raw(c.bytes);
    EXPECT_EQ(c.status, peer->wait());
    EXPECT_LOGGED(*peer, c.line);
    EXPECT_LOGGED(*peer, "Notice: Exit with status " + std::to_string(c.status) + " (" + reasons.at(c.status) + ")\n");
  }
  EXPECT_FALSE(boost::filesystem::exists(sandbox.file("missing")));
}

// ConfigD closes the socket after the first settings.
TEST(service_run, lines_held_back_appear_only_when_they_pass_the_new_threshold) {
  for (qn::LogLevel level : {qn::LOG_LEVEL_NOTICE, qn::LOG_LEVEL_WARNING}) {
    SCOPED_TRACE(qn::LogLevel_Name(level));
    bool const shown = level == qn::LOG_LEVEL_NOTICE;
    std::unique_ptr<configd_peer_t> peer = start_daemon();
    peer->send(configd_peer_t::config_response(1, configd_peer_t::stderr_config(level)));
    peer->expect(out_t::GET_FCHECK_REQUEST);
    peer->expect(out_t::MY_INFO_NOTIFICATION);
    peer->close_socket();
    EXPECT_EQ(1, peer->wait());
    EXPECT_LOGGED(*peer, "Error: Monitor connection: End of file\n");
    EXPECT_EQ(shown, peer->log().find("Notice: SMBGardix ") != std::string::npos) << peer->log();
    EXPECT_EQ(shown, peer->log().find("Notice: Exit with status 1 (Error on monitor channel)\n") != std::string::npos)
        << peer->log();
  }
}

// The value of COM_QUARN_MONITOR: an optional sign and decimal digits within int.
TEST(service_monitor_value, anything_else_ends_with_125) {
  EXPECT_EQ(-2147483647 - 1, sm_parse_monitor_fd("-2147483648"));
  EXPECT_EQ(2147483647, sm_parse_monitor_fd("00000000002147483647"));
  for (char const* value : {"-2147483649", "5 ", "0x3", "+-3", "1e3"})
    EXPECT_THROW(sm_parse_monitor_fd(value), boost::bad_lexical_cast) << value;

  struct monitor_case {
    char const* value;
    int fd;  // -1: refused
  };
  monitor_case const cases[] = {{"+5", 5}, {"-0", 0}, {"", -1}, {"12a", -1}, {" 5", -1}, {"2147483648", -1}};
  for (monitor_case const& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.value + "\"");
    configd_peer_t peer(daemon_argv, c.value, c.fd == -1 ? 3 : c.fd);
    if (c.fd != -1) {
      peer.expect(out_t::GET_CONFIG_REQUEST);
      peer.signal(SIGTERM);
      EXPECT_EQ(107, peer.wait());
      continue;
    }
    EXPECT_EQ(125, peer.wait());
    EXPECT_LOGGED(peer, "Error: bad lexical cast: source type value could not be interpreted as target\n");
    EXPECT_LOGGED(peer, "Notice: Exit with status 125 (Unexpected error)\n");
    EXPECT_TRUE(peer.at_end()) << "nothing may be sent";
  }
}

}  // namespace
