#include "scanning/sm_proxy_scan.h"

#include "tests/scanning/scan_fixture.h"

namespace {

std::string text(qn::ScanReport const& report) { return report.object(); }
std::string text(std::int64_t id) { return std::to_string(id); }

class proxy_scan_test : public scan_test {
 protected:
  // A scan or sync callback that notes its name, the code and what it got.
  auto note(std::string const& name) {
    return [this, name](boost::system::error_code const& ec, auto const&... got) {
      seen.push_back(name + " " + std::to_string(ec.value()) + (std::string() + ... + (" " + text(got))));
    };
  }
  void send_fcheck_socket() {
    qn::Configd2SMBGardixMessage answer;
    answer.set_tag(qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE), answer.set_uid(::getuid());
    configd.send((answer.set_socket_path(dir.file("fc.sock")), answer));
  }
};

TEST_F(proxy_scan_test, queue_ready_reconfiguration_alarm_pause_reconnection_and_suspension) {
  auto const wait = [](int ms) { sm_clock_t::advance(std::chrono::milliseconds(ms)); };
  std::string const open = "tag: OPEN_PROXY origin: APP_SMB_GARDIX | ";
  auto const options = [&](std::string const& ms) {
    return "tag: PROXY_OPTIONS_NOTIFICATION proxy_options { scan_timeout_ms: " + ms + " " + seven + " } | ";
  };
  auto const request = [](int serial, std::string const& path) {
    return "tag: PROXY_SCAN_REQUEST serial: " + std::to_string(serial) + " path: \"" + path + "\" | ";
  };
  // Each step, then what happened (see scan_test::transcript); callbacks run inside a step are marked "now".
  std::pair<std::function<void()>, std::string> const steps[] = {
      {[&] { scan->sync_threat(5, note("s5")), scan->async_scan("/a", note("a")), scan->async_scan("/b", note("b")); },
       "s5 120 -1 | ConfigD GET_FCHECK_REQUEST | "},
      {[&] { send_fcheck_socket(); }, "accepted | " + open + options("1500") + request(1, "/a") + request(2, "/b")},
      {[&] {
         peer.send("tag: PROXY_SCAN_RESPONSE serial: 2 threat_id: -7 scan_report { object: '/b' }");
         peer.send("tag: PROXY_SCAN_RESPONSE serial: 9 error { code: EC_NO_SCAN_ENGINE }");
         peer.send("tag: PROXY_SCAN_RESPONSE serial: 1 error { code: EC_SCAN_LIMIT_REACHED }");
       },
       "b 0 /b -7 | a 45  0 | "},
      // A ready scanner takes new settings with nothing but its options.
      {[&] { configure("2500", false), scan->init(); }, options("2500")},
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
      {[&] { configure("2500", true), scan->init(); }, "now g 88  0 | "},
      {[&] { send_fcheck_socket(); }, ""},
      {[&] { scan->async_scan("/h", note("h")); }, "h 88  0 | "},
      // Resumed, a scan connects anew; suspending a ready scanner closes its connection.
      {[&] { configure("2500", false), scan->init(), scan->async_scan("/i", note("i")); },
       "ConfigD GET_FCHECK_REQUEST | "},
      {[&] { send_fcheck_socket(); }, "accepted | " + open + options("2500") + request(1, "/i")},
      {[&] { configure("2500", true), scan->init(); }, "now i 88  0 | closed"},
  };
  for (auto const& step : steps) {
    step.first();
    for (std::string& callback : seen) callback = "now " + callback;
    EXPECT_EQ(step.second, transcript()) << step.second;
  }
}

}  // namespace
