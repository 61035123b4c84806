#include "scanning/sm_threat_handler.h"

#include <unistd.h>

#include <ctime>
#include <tuple>

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/filesystem/operations.hpp>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "framework/util/cf_io.h"
#include "scanning/sm_report_rules.h"
#include "service/sm_app.h"
#include "tests/support/configd_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox.h"

namespace {

using boost::filesystem::exists;
using google::protobuf::TextFormat;
std::string const known = "object: 'o' virus { type: SE_KNOWN_VIRUS name: 'E' }";
// Rows add to these; a later value of a field wins.
std::string const defaults =
    "log_level: LOG_LEVEL_DEBUG actual_log { type: AUTO } alert_files: true action_delay: 1000 "
    "max_cache_size: 9999 on_known_virus: SMB_BLOCK smb_socket_path: 'm' samba_chroot_dir: ";

// A real application object; the test plays ConfigD, and a socket that only listens stands for the
// file checker, so that the share's proxy scanner holds a link to release threats on.
class handler_test : public ::testing::Test {
 protected:
  void SetUp() override {
    configure("");
    app->get_proxy_scan("s")->async_scan(box.file("none"), [](auto const&...) {});
    qn::Configd2SMBGardixMessage answer;
    ASSERT_TRUE(TextFormat::ParseFromString(
        "tag: GET_FCHECK_RESPONSE socket_path: '" + box.file("fc") + "' uid: " + std::to_string(::getuid()), &answer));
    peer.send(answer);  // read before the settings each test sends first
  }
  ~handler_test() override { sm_clock_t::reset_for_tests(); }

  // A bounded wait for ConfigD's messages and the daemon's posted handlers.
  bool until(std::function<bool()> const& done) {
    app->io_context.restart();
    for (int i = 0; i < 4000 && !done(); ++i) app->io_context.run_for(std::chrono::milliseconds(1));
    return done();
  }

  void configure(std::string const& settings) {
    qn::SMBGardixConfig config;
    ASSERT_TRUE(TextFormat::MergeFromString(defaults + "'" + box.path() + "' " + settings, &config));
    peer.send(configd_peer_t::config_response(++revision, config));
    ASSERT_TRUE(until([&] { return app->settings->config_revision() == revision; }));
  }

  std::uint32_t judge(std::string const& object, std::string const& report, std::int64_t threat_id) {
    sm_threat_handler_t::scan_info_t info{{}, 0, 0, std::make_shared<qn::RemoteUser>(), "s", sm_clock_t::steady::now()};
    EXPECT_TRUE(TextFormat::ParseFromString(report, &info.report));
    EXPECT_TRUE(TextFormat::ParseFromString("user: 'b' domain: 'W' ip: '1.1'", info.last_writer.get()));
    info.report.set_object(object);
    return app->threat_handler->process_scan_info(info, threat_id);
  }

  test_log_t log;
  test_sandbox_t box;
  configd_peer_t peer;
  std::unique_ptr<sm_app_t> app{new sm_app_t(peer.take_other_end())};
  boost::asio::local::stream_protocol::acceptor fcheck{app->io_context, box.file("fc")};
  std::uint32_t revision = 0;
};

TEST_F(handler_test, action_decides_verdict_log_level_cache_and_record_or_release_unless_stat_fails) {
  // settings, what the object adds to the file's path, verdict, level, end of the verdict line, recorded (else
  // released), locked, stat's error
  // settings, what the object adds to the file's path, verdict, level of the threat lines, end of the verdict line,
  // recorded (else released), stat's error
  std::tuple<char const*, std::string, std::uint32_t, char const*, char const*, bool, char const*> const cases[] = {
      {"on_known_virus: SMB_REPORT", "", 1, "Notice", "", true, ""},
      {"on_known_virus: SMB_PASS", "", 1, "Info", "", false, ""},
      {"action_delay: 500", "", 2, "Notice", "", true, ""},
      {"on_known_virus: SMB_CURE action_delay: 0", "", 2, "Notice", ", executing action is delayed for 0 seconds", true,
       ""},
      {"", ".gone", 2, "Notice", "", false, "No such file or directory"},
      {"", std::string("\0x", 2), 2, "Notice", "", false, "Invalid argument"},
  };
  std::int64_t id = -10;
  for (auto const& [settings, added, verdict, level, verdict_tail, recorded, error] : cases) {
    configure(settings);
    std::string const file = box.write(std::to_string(--id), "x"), object = file + added;
    struct stat st;
    ASSERT_EQ(0, ::stat(file.c_str(), &st));
    std::shared_ptr<qn::RemoteUser> writer;  // the entry a result lands in, under stat's numbers
    app->file_cache->is_clean(st.st_dev, st.st_ino, writer);
    EXPECT_EQ(verdict, judge(object, known, id));
    EXPECT_TRUE(log.contains(level + (": \"" + object) + "\" - infected with E, last modified by W\\b from 1.1"));
    EXPECT_TRUE(log.contains("Info: \"" + object + "\": " + sm_verdict_name(verdict) + verdict_tail));
    EXPECT_TRUE(!*error || log.contains("Error: Processing \"" + object + "\" (" + error + "), access rejected"));
    EXPECT_FALSE(exists(object.c_str() + std::string(sm_threat_handler_t::alert_suffix)));
    EXPECT_EQ(verdict == 1, app->file_cache->is_clean(st.st_dev, st.st_ino, writer));
    int answer = -1;  // a pending record answers the lock check
    app->threat_base->async_check_locked(file, st.st_dev, st.st_ino, "s", [&](bool yes) { answer = yes; });
    EXPECT_TRUE(until([&, locked = recorded && verdict == 2] { return answer == locked; }));
    EXPECT_EQ(recorded, log.text().find("sync requested for threat #" + std::to_string(id) + ":") != std::string::npos);
    EXPECT_NE(recorded, log.contains("Debug: sm_proxy_scan_t tag='s': ignore threat #" + std::to_string(id)));
  }
}

TEST_F(handler_test, alert_file_written_kept_on_a_second_detection_and_removed_once_neutralized) {
  configure("on_known_virus: SMB_QUARANTINE action_delay: 90000");
  std::string const one = box.write("a&b", "x"), two = box.write("t.zip", "x");
  std::string const alert = one + sm_threat_handler_t::alert_suffix;
  ASSERT_EQ(0, ::chmod(one.c_str(), 0640));
  // At the start of a whole second, so that the time written is known.
  sm_clock_t::advance(std::chrono::seconds(1) - sm_clock_t::system::now().time_since_epoch() % std::chrono::seconds(1));
  std::time_t const at = sm_clock_t::seconds_since_epoch();
  EXPECT_EQ(2u, judge(one, known, 1));
  EXPECT_EQ(2u, judge(two, known + " item { object: 'i' virus { type: SE_JOKE name: 'Bar' } }", 2));
  std::string const blocked = "\" has been blocked at " + std::string(std::ctime(&at), 24);
  std::string const end =
      "\r\n\r\nYou can delete this file.\r\nIt is strongly recommended to do the anti-virus scan of your PC!\r\n";
  EXPECT_EQ("Please note that your file \"a&&b" + blocked +
                " because it contains the following threat: E (known virus)!" + end,
            cf_read_file(alert));
  EXPECT_EQ("Please note that your file \"t.zip" + blocked +
                " because it contains the following threats:\r\nE (known virus),\r\nBar (joke program)." + end,
            cf_read_file(two + sm_threat_handler_t::alert_suffix));
  struct stat st;  // made 0600, then given the blocked file's mode
  EXPECT_TRUE(::stat(alert.c_str(), &st) == 0 && st.st_mode == 0100640);

  std::string const old = cf_read_file(alert);
  sm_clock_t::advance(std::chrono::minutes(1));
  EXPECT_EQ(2u, judge(one, known, 3));
  EXPECT_TRUE(log.contains("Warning: Failed to create \"" + box.path() + "/a&&b.quarn.alert.txt\": open: File exists"));
  EXPECT_EQ(old, cf_read_file(alert));

  // threat id, path, dev, ino, report, remote user, moment, tag, locked, neutralized
  auto threat = std::make_shared<sm_threat_t>(sm_threat_t{0, one, 0, 0, {}, {}, 0, "s", false, true});
  for (bool other_path : {true, false}) {
    threat->has_paths = other_path;
    app->threat_handler->threat_received(threat);
    EXPECT_EQ(other_path, exists(alert));
  }
}

TEST_F(handler_test, delayed_operation_by_action_incurable_and_container) {
  // The hacktool is the worst threat, so on_hacktools decides rather than on_suspicious (pass).
  auto const both = "object: 'o' virus { type: SE_UNKNOWN_VIRUS name: 'U' } virus { type: SE_HACKTOOL name: 'H' }";
  std::tuple<char const*, char const*, int> const cases[] = {
      // settings, container, operation (-1: none)
      {"on_hacktools: SMB_CURE on_incurable: SMB_DELETE", "", qn::THREAT_OP_CURE_OR_DELETE},
      {"on_hacktools: SMB_CURE on_incurable: SMB_DELETE", "SE_MAIL", qn::THREAT_OP_QUARANTINE},
      {"on_hacktools: SMB_CURE", "SE_ARCHIVE", -1},
      {"on_hacktools: SMB_CURE on_incurable: SMB_QUARANTINE", "SE_CONTAINER", qn::THREAT_OP_CURE_OR_QUARANTINE},
  };
  for (auto const& [settings, container, op] : cases) {
    configure(settings);  // also refills the share's known action row
    auto threat = std::make_shared<sm_threat_t>(sm_threat_t{0, {}, 0, 0, {}, {}, 0, "s"});
    std::string const archive = *container ? std::string(" archive { name: 'a' type: ") + container + " }" : "";
    EXPECT_TRUE(TextFormat::ParseFromString(both + archive, &threat->report));
    std::pair<bool, qn::ThreatOp> const chosen = app->threat_handler->threat_op(threat);
    EXPECT_EQ(op, chosen.first ? chosen.second : -1) << settings << " " << container;
  }
}

}  // namespace
