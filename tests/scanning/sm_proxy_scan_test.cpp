#include "scanning/sm_proxy_scan.h"

#include "tests/kson/kson_bytes.h"
#include "tests/scanning/scan_fixture.h"

namespace {

std::string text(qn::ScanReport const& report) { return report.object(); }
std::string text(std::int64_t id) { return std::to_string(id); }

using proxy_scan_test = scan_test;

TEST_F(proxy_scan_test, link_requests_on_the_wire_their_two_serial_counters_and_a_wrong_answer) {
  std::shared_ptr<sm_fcheck_connector_t> link = sm_fcheck_connector_t::create(app->io_context, box.file("fc.sock"));
  ASSERT_TRUE(peer.accept());
  fc::ProxyOptions options;
  google::protobuf::TextFormat::ParseFromString("scan_timeout_ms: 1500" + seven, &options);
  std::string pid;  // a varint
  for (std::uint32_t v = ::getpid(); v; v >>= 7) pid += char((v & 127) | (v > 127 ? 128 : 0));
  link->subscribe_to_threats(), link->threat_op_request(-2, qn::THREAT_OP_IGNORE), link->threat_sync_request(9);
  link->my_threat_notification(300), link->open_proxy(), link->proxy_options_notification(options);
  link->proxy_scan_request("/x"), poll();
  // clang-format off
  char const* const frames[] = {"080a", "080c 1001 50feffffffffffffffff01 b00107 f00128 f801",
      "080d 1002 5009 f00128 f801", "080e 60ac02", "0828 f00128 f801",
      "0829 c20217 f001dc0b f80100 800203 880204 900205 980206 a002bc05", "082a 1001 32022f78"};
  // clang-format on
  for (std::string const hex : frames) {  // the pid goes last
    std::string const body = kson_test::bytes(hex) + (hex.substr(hex.size() - 4) == "f801" ? pid : "");
    EXPECT_EQ(kson_test::frame(body), peer.frame()) << hex;
  }
  // An answer that is wrong ends the link; the share's proxy scanner, its owner now, logs what reaches it.
  link->set_delegate(scan.get()), peer.send("tag: PROXY_SCAN_RESPONSE serial: 1");
  EXPECT_EQ(
      "Error: DazaVadov connection: PROXY_SCAN_RESPONSE: argument check failed: msg.has_scan_report() || "
      "msg.has_error() | Error: DazaVadov connection error: Protocol violation | closed",
      transcript());
}

TEST_F(proxy_scan_test, queue_ready_reconfiguration_alarm_pause_reconnection_and_suspension) {
  auto const wait = [](int ms) { sm_clock_t::advance(std::chrono::milliseconds(ms)); };
  auto const run = [this] { app->io_context.restart(), app->io_context.run_for(5ms); };  // lets a timer due fire
  // A scan or sync callback that notes its name, the code and what it got.
  auto const note = [this](std::string const& name) {
    return [this, name](boost::system::error_code const& ec, auto const&... got) {
      seen.push_back(name + " " + std::to_string(ec.value()) + (std::string() + ... + (" " + text(got))));
    };
  };
  std::string const open = "tag: OPEN_PROXY origin: APP_SMB_GARDIX | ";
  auto const options = [&](std::string const& ms) {
    return "tag: PROXY_OPTIONS_NOTIFICATION proxy_options { scan_timeout_ms: " + ms + seven + " } | ";
  };
  auto const request = [](int serial, std::string const& path) {
    return "tag: PROXY_SCAN_REQUEST serial: " + std::to_string(serial) + " path: \"" + path + "\" | ";
  };
  // Each step, then what happened (see scan_test::transcript); callbacks run inside a step are marked "now".
  std::pair<std::function<void()>, std::string> const steps[] = {
      {[&] { scan->sync_threat(5, note("s5")), scan->async_scan("/a", note("a")), scan->async_scan("/b", note("b")); },
       "s5 120 -1 | ConfigD GET_FCHECK_REQUEST | "},
      {[&] { name_fcheck(); }, "accepted | " + open + options("1500") + request(1, "/a") + request(2, "/b")},
      {[&] {
         peer.send("tag: PROXY_SCAN_RESPONSE serial: 2 threat_id: -7 scan_report { object: '/b' }");
         peer.send("tag: PROXY_SCAN_RESPONSE serial: 9 error { code: EC_NO_SCAN_ENGINE }");
         peer.send("tag: PROXY_SCAN_RESPONSE serial: 1 error { code: EC_SCAN_LIMIT_REACHED }");
       },
       "b 0 /b -7 | a 45  0 | "},
      // A ready scanner takes new settings with nothing but its options.
      {[&] { apply("2500", false), scan->init(); }, options("2500")},
      {[&] { scan->sync_threat(-4, note("s-4")), scan->sync_threat(-5, note("s-5")); },
       "tag: THREAT_SYNC_REQUEST serial: 1 threat_id: -4 origin: APP_SMB_GARDIX | "
       "tag: THREAT_SYNC_REQUEST serial: 2 threat_id: -5 origin: APP_SMB_GARDIX | "},
      {[&] {
         peer.send("tag: THREAT_SYNC_RESPONSE serial: 7");
         peer.send("tag: THREAT_SYNC_RESPONSE serial: 1 history_id: 33 error { code: EC_RECORD_NOT_FOUND }");
       },
       "Error: Sync threat: wrong serial 7 | s-4 80 33 | "},
      // An alarm fails the scans, keeps the link and the sync; after 10 s the proxy reopens on that link.
      {[&] { scan->async_scan("/c", note("c")); }, request(3, "/c")},
      {[&] { peer.send("tag: PROXY_ALARM error { code: EC_NO_SCAN_ENGINE }"); },
       "Error: ProxyScan error: DiziDaravi is not available | c 119  0 | "},
      {[&] { wait(9900), scan->async_scan("/d", note("d")); }, "d 119  0 | "},
      {[&] { wait(200), scan->async_scan("/e", note("e")); }, open + options("2500") + request(4, "/e")},
      // The file checker goes: scans fail before syncs; after 10 s a scan asks ConfigD again.
      {[&] { peer.send(""); }, "Error: DazaVadov connection error: Link disconnected | e 6  0 | s-5 6 -1 | "},
      {[&] { wait(9900), scan->async_scan("/f", note("f")); }, "f 6  0 | "},
      {[&] { wait(200), scan->async_scan("/g", note("g")); }, "ConfigD GET_FCHECK_REQUEST | "},
      // Suspended: the waiting scan fails, the late socket answer is ignored, scans fail.
      {[&] { apply("2500", true), scan->init(); }, "now g 88  0 | "},
      {[&] { name_fcheck(); }, ""},
      {[&] { scan->async_scan("/h", note("h")); }, "h 88  0 | "},
      // Resumed, a scan connects anew; suspending a ready scanner closes its connection.
      {[&] { apply("2500", false), scan->init(), scan->async_scan("/i", note("i")); }, "ConfigD GET_FCHECK_REQUEST | "},
      {[&] { name_fcheck(); }, "accepted | " + open + options("2500") + request(1, "/i")},
      // A file checker that answers but never this scan: the link fails 10 s past the scan timeout.
      {[&] { wait(12400), peer.send("tag: PROXY_SCAN_RESPONSE serial: 5 error { code: EC_OK }"), run(); }, ""},
      {[&] { wait(101), pump([&] { return !seen.empty(); }); },
       "Error: DazaVadov connection error: Network operation timed out | now i 97  0 | closed"},
      // A new link after the pause; with scan timeout 0 it waits as long as the scan takes.
      {[&] { wait(10001), scan->async_scan("/j", note("j")); }, "ConfigD GET_FCHECK_REQUEST | "},
      {[&] { apply("0", false), name_fcheck(); }, "accepted | " + open + options("0") + request(1, "/j")},
      {[&] { wait(3600000), run(); }, ""},
      {[&] { apply("2500", true), scan->init(); }, "now j 88  0 | closed"},
      // ConfigD that never names the file checker: the waiting scan fails 10 s past the scan timeout, as a
      // scan sent does; a late answer is ignored, and a scan after the pause asks again.
      {[&] { apply("2500", false), scan->init(), scan->async_scan("/k", note("k")); }, "ConfigD GET_FCHECK_REQUEST | "},
      {[&] { wait(12400), run(); }, ""},
      {[&] { wait(101), pump([&] { return !seen.empty(); }); },
       "Error: Failed to get DazaVadov socket: Network operation timed out | now k 97  0 | "},
      {[&] { name_fcheck(); }, ""},
      {[&] { wait(10001), scan->async_scan("/l", note("l")); }, "ConfigD GET_FCHECK_REQUEST | "},
      {[&] { name_fcheck(); }, "accepted | " + open + options("2500") + request(1, "/l")},
      // Each scan has its deadline: the first one's fails the link, three seconds before the second's.
      {[&] { wait(3000), scan->async_scan("/m", note("m")); }, request(2, "/m")},
      {[&] { wait(9400), run(); }, ""},
      {[&] { wait(101), run(); },
       "Error: DazaVadov connection error: Network operation timed out | now l 97  0 | now m 97  0 | closed"},
  };
  for (auto const& step : steps) {
    step.first();
    for (std::string& callback : seen) callback = "now " + callback;
    EXPECT_EQ(step.second, transcript()) << step.second;
  }
}

}  // namespace
