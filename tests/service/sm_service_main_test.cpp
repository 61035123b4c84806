// The daemon as ConfigD sees it: the real program over a real socket pair.

#include <unistd.h>

#include <csignal>
#include <regex>

#include <boost/filesystem/operations.hpp>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef qn::Configd2SMBGardixMessage in_t;

std::string const uid = " uid: " + std::to_string(::getuid());

#define EXPECT_LOGGED(peer, line) EXPECT_NE(std::string::npos, (peer).log().find(line)) << (peer).log()

// The daemon with COM_QUARN_MONITOR set to `monitor` and the socket at `fd`. When it starts, its
// first frame is a GET_CONFIG_REQUEST carrying its tag only.
std::unique_ptr<configd_peer_t> start_daemon(char const* monitor = "3", int fd = 3) {
  std::unique_ptr<configd_peer_t> peer(new configd_peer_t({QN_BIN_DIR "/quarn-smbgardix"}, monitor, fd));
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

// A frame of ConfigD's message in text format, required fields missing or not.
std::string framed(std::string const& text) {
  in_t message;
  google::protobuf::TextFormat::Parser parser;
  parser.AllowPartialMessage(true);
  EXPECT_TRUE(parser.ParseFromString(text, &message)) << text;
  return configd_peer_t::frame(message.SerializePartialAsString());
}

TEST(service_run, every_config_response_is_reported_and_sighup_asks_again) {
  std::unique_ptr<configd_peer_t> peer = start_daemon();
  peer->signal(SIGHUP);
  peer->expect(out_t::GET_CONFIG_REQUEST);
  // Neither is answered, and neither ends the daemon.
  peer->send_raw(framed("tag: GET_FCHECK_RESPONSE socket_path: '/r'" + uid) + framed("tag: APPINFO_NOTIFICATION"));
  // revision, suspended, control present, the state reported
  std::tuple<std::uint32_t, bool, bool, char const*> const steps[] = {{7, false, false, "EC_OK"},
                                                                      {7, false, false, "EC_OK"},
                                                                      {8, true, false, "EC_APP_SUSPENDED"},
                                                                      {9, false, true, "EC_OK"}};
  for (auto const& [revision, suspended, with_control, state] : steps) {
    peer->send(configd_peer_t::config_response(revision, configd_peer_t::stderr_config(), suspended, with_control));
    out_t info = peer->receive();
    // An unsuspended configuration starts the threats subscription first.
    if (info.tag() == out_t::GET_FCHECK_REQUEST) info = peer->receive();
    EXPECT_EQ(
        "tag: MY_INFO_NOTIFICATION config_revision: " + std::to_string(revision) + " info { state: " + state + " }",
        info.ShortDebugString());
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
  std::string const format = "Error: Monitor connection: Invalid IPC message format\n";
  std::string const size = "Error: Monitor connection: Invalid IPC message size\n";
  std::string const check = "Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: ";
  std::string const config_check = "Error: Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config";
  std::tuple<std::string, std::string, int> const cases[] = {
      {configd_peer_t::frame(std::string("\x08\x09", 2)), format, 1},  // an unknown tag does not parse
      {"", "Error: Monitor connection: End of file\n", 1},
      {std::string(4, '\0'), size, 1},
      {std::string("\x01\x00\x00\x04", 4), size, 1},  // one above 64 MiB
      {framed("tag: GET_CONFIG_RESPONSE config { }"), config_check + "_revision()\n", 12},
      {framed("tag: GET_CONFIG_RESPONSE config_revision: 1"), config_check + "()\n", 12},
      {framed("tag: GET_FCHECK_RESPONSE socket_path: '/r'"), check + "message.has_uid()\n", 12},
      {framed("tag: GET_FCHECK_RESPONSE" + uid), check + "message.has_socket_path() || message.has_error()\n", 12},
      {framed("tag: GET_FCHECK_RESPONSE socket_path: '/r' uid: " + std::to_string(::getuid() + 1)),
       check + "message.uid() == getuid()\n", 12},
      {framed("tag: GET_CONFIG_RESPONSE config_revision: 1 config { actual_log { type: FILE path: '" +
              sandbox.file("missing/daemon.log") + "' } }"),
       "Error: Cannot create log", 102},
  };
  std::map<int, std::string> const reasons = {
      {1, "Error on monitor channel"}, {12, "Protocol violation"}, {102, "Invalid configuration"}};
  for (auto const& [input, line, status] : cases) {
    SCOPED_TRACE(line);
    std::unique_ptr<configd_peer_t> peer = start_daemon();
    peer->send_raw(input), peer->close_socket();
    EXPECT_EQ(status, peer->wait());
    EXPECT_LOGGED(*peer, line);
    EXPECT_LOGGED(*peer, "Notice: Exit with status " + std::to_string(status) + " (" + reasons.at(status) + ")\n");
  }
  EXPECT_FALSE(boost::filesystem::exists(sandbox.file("missing")));
}

// COM_QUARN_MONITOR holds an optional sign and decimal digits within int; anything else ends
// with 125 and sends nothing. Terminated before any settings, the held-back lines are written.
TEST(service_run, monitor_values) {
  for (auto const& [value, fd] : {std::pair{"+5", 5}, {"-0", 0}}) expect_termination(*start_daemon(value, fd));
  for (char const* value : {"", "12a", " 5", "2147483648"}) {
    SCOPED_TRACE(std::string("\"") + value + "\"");
    configd_peer_t peer({QN_BIN_DIR "/quarn-smbgardix"}, value);
    EXPECT_EQ(125, peer.wait());
    EXPECT_LOGGED(peer, "Error: bad lexical cast: source type value could not be interpreted as target\n");
    EXPECT_LOGGED(peer, "Notice: Exit with status 125 (Unexpected error)\n");
    EXPECT_TRUE(peer.at_end()) << "nothing may be sent";
  }
}

}  // namespace
