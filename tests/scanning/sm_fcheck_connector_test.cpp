#include "scanning/sm_fcheck_connector.h"

#include <boost/algorithm/hex.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/system/system_error.hpp>

#include "tests/scanning/scan_fixture.h"

namespace {

// The links here are the test's own; the share's proxy scanner is their owner and logs what reaches it.
using fcheck_connector_test = scan_test;

TEST_F(fcheck_connector_test, requests_on_the_wire_and_their_two_serial_counters) {
  std::shared_ptr<sm_fcheck_connector_t> link = connect();
  fc::ProxyOptions options;
  google::protobuf::TextFormat::ParseFromString("scan_timeout_ms: 1500 " + seven, &options);
  std::string pid;  // a varint
  for (std::uint32_t v = ::getpid(); v; v >>= 7) pid += char((v & 127) | (v > 127 ? 128 : 0));
  std::pair<std::function<void()>, std::string> const rows[] = {
      {[&] { link->subscribe_to_threats(); }, "080a"},
      {[&] { link->threat_op_request(-2, qn::THREAT_OP_IGNORE); },
       "080c 1001 50feffffffffffffffff01 b00107 f00128 f801"},
      {[&] { link->threat_sync_request(9); }, "080d 1002 5009 f00128 f801"},
      {[&] { link->my_threat_notification(300); }, "080e 60ac02"},
      {[&] { link->open_proxy(); }, "0828 f00128 f801"},
      {[&] { link->proxy_options_notification(options); },
       "0829 c20217 f001dc0b f80100 800203 880204 900205 980206 a002bc05"},
      {[&] { link->proxy_scan_request("/x"); }, "082a 1001 32022f78"},
  };
  for (auto const& row : rows) {
    row.first(), pump();
    std::string body = boost::algorithm::unhex(boost::replace_all_copy(row.second, " ", ""));
    body += body.compare(body.size() - 2, 2, "\xf8\x01") ? "" : pid;  // the pid goes last
    EXPECT_EQ(std::string(1, char(body.size())) + std::string(3, '\0') + body, peer.frame()) << row.second;
  }
}

#define CHECK_FAILED(tag, condition)                                        \
  "Error: DazaVadov connection: " tag ": argument check failed: " condition \
  " | Error: DazaVadov connection error: Protocol violation | closed"
TEST_F(fcheck_connector_test, incoming_messages_that_are_wrong_end_the_link) {
  std::pair<std::string, std::string> const rows[] = {
      // see fc_peer_t::send
      {"tag: THREATS_OP_RESPONSE serial: 4", ""},
      {"tag: PROXY_READY", "Debug: Proxy ready | "},
      {"tag: PROXY_SCAN_RESPONSE error { code: EC_OK }", CHECK_FAILED("PROXY_SCAN_RESPONSE", "msg.has_serial()")},
      {"tag: PROXY_SCAN_RESPONSE serial: 1",
       CHECK_FAILED("PROXY_SCAN_RESPONSE", "msg.has_scan_report() || msg.has_error()")},
      {"tag: THREATS_SUBSCRIBED", CHECK_FAILED("THREATS_SUBSCRIBED", "msg.has_dbpath()")},
      {"tag: THREATS_ALARM", CHECK_FAILED("THREATS_ALARM", "msg.has_error()")},
      {"tag: THREATS_NOTIFICATION", CHECK_FAILED("THREATS_NOTIFICATION", "msg.has_history_id()")},
      {"tag: THREATS_OP_RESPONSE", CHECK_FAILED("THREATS_OP_RESPONSE", "msg.has_serial()")},
      {"tag: THREAT_SYNC_RESPONSE", CHECK_FAILED("THREAT_SYNC_RESPONSE", "msg.has_serial()")},
      {"tag: PROXY_ALARM", CHECK_FAILED("PROXY_ALARM", "msg.has_error()")},
      {"tag: SCAN_INFO_NOTIFICATION", "Error: DazaVadov connection error: Unexpected IPC message | closed"},
      {"!\x08\x63", "Error: DazaVadov connection error: Invalid IPC message format | closed"},  // 99 is no tag
      {"", "Error: DazaVadov connection error: Link disconnected | "},
  };
  for (auto const& row : rows) {
    std::shared_ptr<sm_fcheck_connector_t> link = connect();
    peer.send(row.first);
    EXPECT_EQ(row.second, transcript()) << row.first;
    link->close();
  }
}

TEST_F(fcheck_connector_test, socket_paths_of_up_to_107_bytes) {
  std::string const path107 = dir.file(std::string(106 - dir.path().size(), 's'));
  fc_peer_t listening(path107);
  auto const failure = [this](std::string const& path) {
    try {
      return sm_fcheck_connector_t::create(app->io_context, path), std::string("none");
    } catch (boost::system::system_error const& e) {
      return std::to_string(e.code().value()) + " " + e.what();
    }
  };
  EXPECT_EQ("none", failure(path107));
  EXPECT_EQ(std::to_string(ENAMETOOLONG) + " File name too long", failure(path107 + "s"));
  EXPECT_EQ(std::to_string(ENOENT) + " connect: No such file or directory", failure(dir.file("none")));
}

}  // namespace
