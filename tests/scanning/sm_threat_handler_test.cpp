#include "scanning/sm_threat_handler.h"

#include <ctime>
#include <regex>

#include <boost/filesystem/operations.hpp>

#include "framework/util/cf_io.h"
#include "scanning/sm_report_rules.h"
#include "tests/scanning/scan_fixture.h"

namespace {

using boost::filesystem::exists;
using google::protobuf::TextFormat;
std::string const known = "object: 'o' virus { type: SE_KNOWN_VIRUS name: 'E' }";
std::string const defaults = "log_level: LOG_LEVEL_DEBUG alert_files: true max_cache_size: 9999 ";

// The share's proxy scanner holds a link, which the file checker never accepts, to release threats on.
class handler_test : public scan_test {
 protected:
  handler_test() {
    configure(defaults), app->get_proxy_scan("s")->async_scan("/none", [](auto const&...) {}), name_fcheck();
  }

  // The module asked about `asked` (by default the object), with its numbers; `meanwhile` runs while it is
  // scanned.
  std::uint32_t judge(std::string const& object, std::string const& report, std::int64_t threat_id,
                      std::string asked = "", std::function<void()> const& meanwhile = nullptr) {
    struct stat st {};
    asked = asked.empty() ? object : asked, ::stat(asked.c_str(), &st);
    sm_threat_handler_t::scan_info_t info;
    info.dev = st.st_dev, info.ino = st.st_ino, info.last_writer = std::make_shared<qn::RemoteUser>();
    info.tag = "s", info.start = sm_clock_t::steady::now(), info.path = asked;
    info.sent = sm_path_stamp_t(asked, root.size()), info.stamp_untrusted = untrusted;
    if (meanwhile) meanwhile();
    EXPECT_TRUE(TextFormat::ParseFromString(report, &info.report));
    EXPECT_TRUE(TextFormat::ParseFromString("user: 'b' domain: 'W' ip: '1.1'", info.last_writer.get()));
    info.report.set_object(object);
    return app->threat_handler->process_scan_info(info, threat_id);
  }

  bool untrusted = false;  // the module's connection could not trust the stamp it sent the scan with
};

TEST_F(handler_test, action_decides_verdict_log_level_cache_and_record_or_release_unless_stat_fails) {
  // settings, what the object adds to the file's path, verdict, level of the threat lines, end of the verdict line,
  // recorded (else released), stat's error
  std::tuple<char const*, std::string, std::uint32_t, char const*, char const*, bool, char const*> const cases[] = {
      {"on_known_virus: SMB_REPORT", "", 1, "Notice", "", true, ""},
      {"on_known_virus: SMB_REPORT action_delay: 1000", "", 1, "Notice", "", true, ""},  // allowed: no alert file
      {"on_known_virus: SMB_PASS", "", 1, "Info", "", false, ""},
      {"on_known_virus: SMB_BLOCK action_delay: 999", "", 2, "Notice", "", true, ""},  // too short for an alert file
      {"on_known_virus: SMB_CURE", "", 2, "Notice", ", executing action is delayed for 0 seconds", true, ""},
      {"on_known_virus: SMB_BLOCK", ".gone", 2, "Notice", "", false, "No such file or directory"},
      {"on_known_virus: SMB_BLOCK", std::string("\0x", 2), 2, "Notice", "", false, "Invalid argument"},
  };
  std::int64_t id = -10;
  for (auto const& [settings, added, verdict, level, verdict_tail, recorded, error] : cases) {
    configure(defaults + settings);
    std::string const file = box.write(std::to_string(--id), "x"), object = file + added;
    std::string const shown = std::regex_replace(object, std::regex(std::string(1, '\0')), "\\x00");  // as logged
    struct stat st;
    ASSERT_EQ(0, ::stat(file.c_str(), &st));
    std::shared_ptr<qn::RemoteUser> writer;  // the entry a result lands in, under stat's numbers
    app->file_cache->is_clean(st.st_dev, st.st_ino, writer);
    EXPECT_EQ(verdict, judge(object, known, id));
    EXPECT_TRUE(log.contains(level + (": \"" + shown) + "\" - infected with E, last modified by W\\b from 1.1"));
    EXPECT_TRUE(log.contains("Info: \"" + shown + "\": " + sm_verdict_name(verdict) + verdict_tail));
    EXPECT_TRUE(!*error || log.contains("Error: Processing \"" + shown + "\" (" + error + "), access rejected"));
    EXPECT_FALSE(exists(object.c_str() + std::string(sm_threat_handler_t::alert_suffix)));
    EXPECT_EQ(verdict == 1, app->file_cache->is_clean(st.st_dev, st.st_ino, writer));
    int answer = -1;  // a pending record answers the lock check
    app->threat_base->async_check_locked(file, st.st_dev, st.st_ino, "s", [&](bool yes) { answer = yes; });
    EXPECT_TRUE(pump([&, locked = recorded && verdict == 2] { return answer == locked; }));
    EXPECT_EQ(recorded, log.text().find("sync requested for threat #" + std::to_string(id) + ":") != std::string::npos);
    EXPECT_NE(recorded, log.contains("Debug: sm_proxy_scan_t tag='s': ignore threat #" + std::to_string(id)));
  }
}

TEST_F(handler_test, a_threat_allowed_is_cached_only_when_nothing_on_its_path_changed_during_the_scan) {
  configure(defaults + "on_known_virus: SMB_REPORT");
  test_sandbox_t outside;
  ASSERT_EQ(0, ::mkdir(box.file("d").c_str(), 0700));
  std::string const file = box.write("d/f", "x");
  struct stat st;
  ASSERT_EQ(0, ::stat(file.c_str(), &st));
  std::shared_ptr<qn::RemoteUser> writer;
  outside.await_clock_tick();
  EXPECT_EQ(1u, judge(file, known, 1, "", [&] { box.write("d/g", "x"); }));
  EXPECT_FALSE(app->file_cache->is_clean(st.st_dev, st.st_ino, writer));
  EXPECT_TRUE(log.contains("Debug: sm_threat_handler_t::process_scan_info: \"" + file +
                           "\" or a folder above it changed while it was scanned (dev=" + std::to_string(st.st_dev) +
                           " ino=" + std::to_string(st.st_ino) + "), access allowed is not cached"));
  // A stamp the connection could not trust, as it logged then: nothing more to say.
  untrusted = true, log.clear();
  EXPECT_EQ(1u, judge(file, known, 2));
  EXPECT_FALSE(app->file_cache->is_clean(st.st_dev, st.st_ino, writer));
  EXPECT_FALSE(log.contains("Debug: sm_threat_handler_t::process_scan_info: \"" + file));
  untrusted = false;
  EXPECT_EQ(1u, judge(file, known, 3));
  EXPECT_TRUE(app->file_cache->is_clean(st.st_dev, st.st_ino, writer));
}

TEST_F(handler_test, alert_file_written_kept_on_a_second_detection_and_removed_once_neutralized) {
  configure(defaults + "on_known_virus: SMB_QUARANTINE action_delay: 90000");
  std::string const file = box.write("a&b", "x"), alert = file + sm_threat_handler_t::alert_suffix;
  ASSERT_EQ(0, ::chmod(file.c_str(), 06751));
  // At the start of a whole second, so that the time written is known.
  sm_clock_t::advance(std::chrono::seconds(1) - sm_clock_t::system::now().time_since_epoch() % std::chrono::seconds(1));
  std::time_t const at = sm_clock_t::seconds_since_epoch();
  EXPECT_EQ(2u, judge(file, known + " item { object: 'i' virus { type: SE_JOKE name: 'Bar' } }", 1));
  EXPECT_EQ("Please note that your file \"a&&b\" has been blocked at " + std::string(std::ctime(&at), 24) +
                " because it contains the following threats:\r\nE (known virus),\r\nBar (joke program).\r\n\r\nYou "
                "can delete this file.\r\nIt is strongly recommended to do the anti-virus scan of your PC!\r\n",
            cf_read_file(alert));
  struct stat st;  // made 0600, then given the blocked file's mode less execute and special bits
  EXPECT_TRUE(::stat(alert.c_str(), &st) == 0 && st.st_mode == 0100640);

  std::string const old = cf_read_file(alert);
  sm_clock_t::advance(std::chrono::minutes(1));
  EXPECT_EQ(2u, judge(file, known, 3));
  EXPECT_TRUE(log.contains("Warning: Failed to create \"" + root + "/a&&b.quarn.alert.txt\": open: File exists"));
  EXPECT_EQ(old, cf_read_file(alert));

  // threat id, path, dev, ino, report, remote user, moment, tag, locked, neutralized
  auto threat = std::make_shared<sm_threat_t>(sm_threat_t{0, file, 0, 0, {}, {}, 0, "s", false, true});
  ASSERT_EQ(0, ::symlink(root.c_str(), box.file("via").c_str()));
  // recorded path, another live path; the alert file stays when either goes through a link or is not the last
  for (auto const& [path, other_path] : {std::pair{box.file("via/a&b"), false}, {file, true}, {file, false}}) {
    threat->path = path, threat->has_paths = other_path;
    app->threat_handler->threat_received(threat);
    EXPECT_EQ(other_path || path != file, exists(alert)) << path;
  }
}

TEST_F(handler_test, alert_file_only_beside_the_file_asked_about_inside_the_chroot_never_through_a_link) {
  configure(defaults + "on_known_virus: SMB_BLOCK action_delay: 90000");
  test_sandbox_t outside;
  ASSERT_EQ(0, ::mkdir(box.file("d").c_str(), 0700) + ::symlink(box.file("d").c_str(), box.file("ln").c_str()));
  std::string const f = box.write("d/f", "x"), g = box.write("d/g", "x"), alert = f + sm_threat_handler_t::alert_suffix;
  // object, asked, reason, a file that must not appear
  std::tuple<std::string, std::string, char const*, std::string> const cases[] = {
      {box.file("ln/f"), "", "open: Too many levels of symbolic links", alert},  // a folder swapped for a link
      {f, g, "the scanned object is not the file asked about", alert},
      {outside.write("f", "x"), "", "outside the Samba chroot directory", outside.file("f.quarn.alert.txt")},
  };
  for (auto const& [object, asked, reason, absent] : cases) {
    EXPECT_EQ(2u, judge(object, known, 1, asked));
    EXPECT_TRUE(log.contains("Warning: Failed to create \"" + object + ".quarn.alert.txt\": " + reason)) << reason;
    EXPECT_FALSE(exists(absent)) << reason;
  }
}

TEST_F(handler_test, delayed_operation_by_action_incurable_and_container) {
  // The hacktool is the worst threat, so on_hacktools decides rather than on_suspicious (pass).
  std::string const both =
      "object: 'o' virus { type: SE_UNKNOWN_VIRUS name: 'U' } virus { type: SE_HACKTOOL name: 'H' } ";
  std::tuple<char const*, char const*, int> const cases[] = {
      // settings, container, operation (-1: none)
      {"on_hacktools: SMB_CURE on_incurable: SMB_DELETE", "SE_CONTAINER", qn::THREAT_OP_CURE_OR_DELETE},
      {"on_hacktools: SMB_CURE on_incurable: SMB_DELETE", "SE_MAIL", qn::THREAT_OP_QUARANTINE},
      {"on_hacktools: SMB_CURE", "SE_ARCHIVE", -1},
      {"on_hacktools: SMB_CURE on_incurable: SMB_QUARANTINE", "SE_CONTAINER", qn::THREAT_OP_CURE_OR_QUARANTINE},
  };
  for (auto const& [settings, container, op] : cases) {
    configure(defaults + settings);  // also refills the share's known action row
    auto threat = std::make_shared<sm_threat_t>(sm_threat_t{0, {}, 0, 0, {}, {}, 0, "s"});
    EXPECT_TRUE(TextFormat::ParseFromString(both + "archive { name: 'a' type: " + container + " }", &threat->report));
    std::pair<bool, qn::ThreatOp> const chosen = app->threat_handler->threat_op(threat);
    EXPECT_EQ(op, chosen.first ? chosen.second : -1) << settings << " " << container;
  }
}

TEST(report_rules, worst_threat_real_error_description_lines_summary_and_delay_texts) {
  // report, real scan error, description lines and summary (which names the worst threat)
  // clang-format off
  std::tuple<char const*, bool, char const*> const cases[] = {
      // Severity 100 beats 10; every quoted path doubles its ampersands.
      {"object:'a&' virus{type:SE_UNKNOWN_VIRUS name:'U'} item{object:'x' virus{type:SE_HACKTOOL name:'H'}}", false,
       "\"a&&\" - probably infected with U|\"a&&//x\" - a hacktool program H|\"a&&\" - H|"},
      // Equal severity: the top report's own threat comes before its item's.
      {"object:'t' item{object:'i' virus{type:SE_KNOWN_VIRUS name:'K2'}} virus{type:SE_KNOWN_VIRUS name:'K1'}", false,
       "\"t\" - infected with K1|\"t//i\" - infected with K2|\"t\" - K1|"},
      {"object:'c' item{object:'n' error:SE_SCAN_TIMEOUT}", false,
       "\"c\" - Scan timeout expired|\"c\" - Scan timeout expired|"},
      // A real error is named before a tolerated one met earlier.
      {"object:'e' error:SE_SCAN_TIMEOUT item{object:'m' error:SE_READ_ERROR}", true,
       "\"e\" - Read error|\"e\" - Read error|"},
      {"object:'z' archive{type:SE_ARCHIVE name:'zip'} item{object:'d' virus{type:SE_ADWARE name:'Foo'}}", false,
       "\"z//d\" - an adware program Foo|\"z\" - infected archive file, malicious objects: 1|"
       "\"z\" - infected archive file, malicious objects: 1|"}};
  // clang-format on
  for (auto const& [text, real_error, lines] : cases) {
    qn::ScanReport report;
    ASSERT_TRUE(TextFormat::ParseFromString(text, &report));
    std::string described;
    for (std::string const& line : sm_threat_descriptions(report)) described += line + "|";
    EXPECT_EQ(lines, described + sm_report_summary(report) + "|");
    EXPECT_EQ(real_error, sm_has_scan_error(report)) << text;
  }

  // milliseconds, text
  std::pair<std::uint32_t, char const*> const delays[] = {
      {90000, "1 minute 30 seconds"}, {1209600000, "2 weeks"}, {694861999, "1 week 1 day 1 hour 1 minute 1 second"}};
  for (auto const& [ms, text] : delays) EXPECT_EQ(text, sm_threat_handler_t::delay_text(ms));
}

}  // namespace
