// The daemon end to end, on its road and under load and faults.

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <regex>

#include "framework/error/cf_proto_error_impl.h"
#include "tests/support/daemon_rig.h"

namespace {

TEST(daemon_road, verdicts_writers_locks_scan_failures_and_the_whole_life_of_a_detection) {
  // Detections are recorded an hour in the past, so that their delayed actions are due at once; scans are
  // answered late, so that a file can be replaced meanwhile.
  rig_t rig(
      "log_level: LOG_LEVEL_DEBUG max_cache_size: 65536 action_delay: 60000 share { item { tag: 'Public_Docs' "
      "alert_files: true on_known_virus: SMB_BLOCK block_on_error: true } item { tag: 'quar' alert_files: true "
      "on_known_virus: SMB_QUARANTINE } item { tag: 'strict' block_on_error: true } item { tag: 'lax' "
      "block_on_error: false } }",
      "--backdate 3600 --scan-delay 300");
  std::string const root = rig.root, stub = QN_BIN_DIR "/fcheck-stub", failing = rig.box.file("failing/fc.sock");
  for (char const* dir : {"/s", "/q", "/o", "/failing"}) ::mkdir((root + dir).c_str(), 0700);
  rig.box.write("s/clean.txt", "clean"), rig.box.write("o/x.txt", "x"), rig.box.write("o/y.txt", "y");
  rig.box.write("s/two\nlines.txt", "clean");
  ASSERT_EQ(0, ::truncate(rig.box.write("s/big.bin", "").c_str(), 65 << 20));  // too large to scan
  for (char const* file : {"s/locked.com", "q/life.com", "s/swap.com", "s/new.com"})
    ASSERT_EQ(0, run_program({stub, "--make-test-file", rig.box.file(file)}, {}).status);
  test_child_t broken({stub, "--socket", failing, "--fail-scans", "EC_SCAN_LIMIT_REACHED"},
                      test_child_t::environment());
  ASSERT_EQ("ready", broken.next_line());
  modules_t& m = rig.modules;
  for (char const* tag : {"Public_Docs", "quar", "strict", "lax"}) rig.add(tag);
  m[0].event(msg_t::OP_WRITE, "/s/locked.com", 0, "bob CORP 10.1.2.3");
  std::string const alert = root + "/q/life.com.quarn.alert.txt";
  auto const sql = [&](std::string const& query) {
    return run_program({"/usr/bin/sqlite3", "-cmd", ".timeout 5000", rig.box.file("threats.db"), query}, {}).out;
  };

  // ConfigD names the file checker to the subscription and to each share's first scan; the last
  // two shares get one that fails every scan.
  EXPECT_EQ(1u, rig.ask(m[0], msg_t::OP_OPEN, "/s/clean.txt"));
  EXPECT_EQ(1u, rig.ask(m[0], msg_t::OP_OPEN, "/s/clean.txt"));  // from the cache
  EXPECT_EQ(1u, rig.ask(m[0], msg_t::OP_OPEN, "/s/two\nlines.txt"));
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_OPEN, "/s/big.bin")) << "a scan error is not cached";
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_OPEN, "/s/locked.com"));
  EXPECT_EQ(2u, rig.ask(m[1], msg_t::OP_OPEN, "/q/life.com"));
  EXPECT_EQ(0, ::access(alert.c_str(), F_OK));
  rig.route = failing;
  EXPECT_EQ(2u, rig.ask(m[2], msg_t::OP_READ, "/o/x.txt"));
  EXPECT_EQ(1u, rig.ask(m[3], msg_t::OP_READ, "/o/y.txt"));
  m[3].hang_up();
  // The detection is written with its writer, share tag and lock; a locked file is not scanned on open.
  rig.pump([&] {
    return sql("SELECT tag, locked, remote_user, remote_domain, remote_ip FROM history JOIN threat USING "
               "(threat_id) WHERE threat_id = 1") == "publicdocs|1|bob|CORP|10.1.2.3\n";
  });
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_OPEN, "/s/locked.com"));
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_READ, "/s/locked.com"));
  std::string blocked = cf_read_file(root + "/s/locked.com.quarn.alert.txt");
  EXPECT_EQ(
      "Please note that your file \"locked.com\" has been blocked at  because it contains the following threat: "
      "Standard-Test-File (known virus)!\r\n\r\nYou can delete this file.\r\nIt is strongly recommended to do "
      "the anti-virus scan of your PC!\r\n",
      blocked.erase(60, 24));  // the time, as in-process tests check it
  // Replaced between the question and the answer: no alert file beside the newcomer.
  m[0].event(msg_t::OP_OPEN, "/s/swap.com", ++m[0].serial);
  ASSERT_EQ(0, ::rename((root + "/s/new.com").c_str(), (root + "/s/swap.com").c_str()));
  rig.pump([&] { return m[0].verdicts.count(m[0].serial); });
  EXPECT_NE(0, ::access((root + "/s/swap.com.quarn.alert.txt").c_str(), F_OK));

  // The other detection, notified, is acted on once due: quarantined, neutralized, its alert file removed.
  rig.pump([&] { return ::access(alert.c_str(), F_OK) != 0; });
  EXPECT_EQ("1|0\n3|1\n", sql("SELECT event, neutralized FROM history WHERE threat_id = 2 ORDER BY history_id"));
  EXPECT_EQ(0, ::access((root + "/quarantine/2-life.com").c_str(), F_OK));
  // Infected in place after its clean verdict: the write makes it unknown again.
  rig.box.write("s/clean.txt", cf_read_file(root + "/s/locked.com"));
  m[0].event(msg_t::OP_WRITE, "/s/clean.txt", 0);
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_OPEN, "/s/clean.txt"));
  rig.pump([&] { return sql("SELECT count(*) FROM threat") == "4\n"; });

  rig.configd.signal(SIGTERM);
  rig.finish(107);
  EXPECT_EQ(5u, rig.sent[out_t::GET_FCHECK_REQUEST]);
  auto const q = [&](std::string const& path) { return "\"" + root + path + "\""; };
  std::string const locked = q("/s/locked.com"), life = q("/q/life.com");
  std::string const failed = " (" + qn::make_error_code(qn::EC_SCAN_LIMIT_REACHED).message() + "), access ";
  for (std::string const& line :
       {"Notice: " + locked + " - infected with Standard-Test-File, last modified by CORP\\bob from 10.1.2.3",
        "Info: " + locked + ": access rejected", "Debug: " + locked + " already locked",
        "Warning: Error on scanning " + q("/o/x.txt") + failed + "rejected",
        "Warning: Error on scanning " + q("/o/y.txt") + failed + "allowed",
        "Notice: " + life + " - infected with Standard-Test-File",
        "Warning: Failed to create " + q("/s/swap.com.quarn.alert.txt") + ": the file is not the one asked about",
        "Info: " + life + ": access rejected, executing action is delayed for 1 minute",
        "check_file: \"/s/two\\x0alines.txt\" -> " + q("/s/two\\x0alines.txt")})
    EXPECT_NE(std::string::npos, rig.log().find(line + "\n")) << line;
  // A normal run, modules hanging up included, logs no Error line; a line feed in a path stays escaped.
  EXPECT_EQ(std::string::npos, rig.log().find(" Error: ")) << rig.log();
  EXPECT_EQ(std::string::npos, rig.log().find("two\n"));
  // Scans at the file checker: the clean file once before its write, the locked one for its first
  // open and the read.
  std::string const scans = rig.fc_out();
  for (auto const& [path, count] : std::map<std::string, int>{{"/s/clean.txt", 2}, {"/s/locked.com", 2}}) {
    std::regex const request("PROXY_SCAN_REQUEST serial=\\d+ path=" + q(path) + "\n");
    EXPECT_EQ(count, std::distance(std::sregex_iterator(scans.begin(), scans.end(), request), {})) << path;
  }
}

// Share "public" blocks known viruses and blocks on errors.
std::string const public_share =
    "log_level: LOG_LEVEL_INFO action_delay: 60000 max_cache_size: 1048576 share { item { tag: 'public' "
    "alert_files: true on_known_virus: SMB_BLOCK block_on_error: true } }";

TEST(daemon_faults, a_thousand_modules_and_a_burst_of_sighups_get_one_answer_each) {
  rlimit files{};  // a thousand modules, and the daemon's end of each
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &files));
  files.rlim_cur = files.rlim_max;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &files));
  rig_t rig(public_share);
  ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", rig.box.file("bad.com")}, {}).status);
  for (int i = 0; i < 100; ++i) rig.box.write(std::to_string(i), "clean");
  module_t& first = rig.add("public");
  // SIGHUPs one at a time, the module served meanwhile: one settings request each.
  for (std::uint32_t n = 1; n <= 10; ++n) {
    rig.configd.signal(SIGHUP);
    EXPECT_EQ(1u, rig.ask(first, n % 2 ? msg_t::OP_OPEN : msg_t::OP_READ, "/0"));
    rig.pump([&] { return rig.sent[out_t::GET_CONFIG_REQUEST] >= n; });
  }
  for (int i = 1; i <= 1000; ++i) rig.add("public");
  rig.pump([&] { return module_t::settled >= 1001; });
  // Serial 1 known clean, 2 scanned (now and then cached), 3 on every tenth module infected; new
  // settings arrive while verdicts are being written.
  for (int i = 1; i <= 1000; ++i) {
    rig.modules[i].event(msg_t::OP_OPEN, "/0", 1);
    rig.modules[i].event(msg_t::OP_READ, "/" + std::to_string(i % 100), 2);
    if (i % 10 == 0) rig.modules[i].event(msg_t::OP_CLOSE, "/bad.com", 3);
  }
  rig.configd.send(configd_peer_t::config_response(2, rig.config));
  rig.pump([&] { return module_t::received >= 10 + 2000 + 100 && module_t::settled >= 2002; });
  rig.configd.signal(SIGTERM);
  rig.finish(107);
  verdicts_t const clean = {{1, {1}}, {2, {1}}}, infected = {{1, {1}}, {2, {1}}, {3, {2}}};
  for (std::size_t i = 1; i <= 1000; ++i) ASSERT_EQ(i % 10 ? clean : infected, rig.modules[i].verdicts) << i;
  for (module_t const& m : rig.modules) ASSERT_EQ(2u, m.settings);  // at the hello, then the new settings
  for (auto const& serial : first.verdicts) EXPECT_EQ(std::vector<std::uint32_t>{1}, serial.second);
  // One settings request for each SIGHUP, one report for each settings, and nothing else happened.
  EXPECT_EQ(10u, rig.sent[out_t::GET_CONFIG_REQUEST]);
  EXPECT_TRUE(rig.configd.at_end());
  EXPECT_EQ(2u, rig.sent[out_t::MY_INFO_NOTIFICATION]);
  EXPECT_EQ(2u, rig.sent[out_t::GET_FCHECK_REQUEST]);
}

TEST(daemon_faults, a_file_checker_whose_backlog_is_full_holds_up_nothing) {
  // At Warning: its lines are written, Notice lines are not.
  rig_t rig("log_level: LOG_LEVEL_WARNING share { item { tag: 'p' block_on_error: true } }", "--full-backlog");
  rig.box.write("a.txt", "a");
  module_t& first = rig.add("p");
  EXPECT_EQ(2u, rig.ask(first, msg_t::OP_OPEN, "/a.txt"));
  // The threats subscription tried as often as it may meanwhile, each try through ConfigD (one of
  // them may have served the scan too).
  rig.pump([&] { return rig.sent[out_t::GET_FCHECK_REQUEST] >= 21; });
  module_t& second = rig.add("p");
  rig.pump([&] { return second.settings == 1; });
  rig.configd.signal(SIGTERM);
  rig.finish(107);
  std::string const again = std::strerror(EAGAIN), log = rig.log();
  for (std::string const& line : {"Warning: Error on scanning \"" + boost::filesystem::canonical(rig.root).string() +
                                      "/a.txt\" (" + again + "), access rejected\n",
                                  "Error: Failed to create DazaVadov connection: connect: " + again + "\n"})
    EXPECT_NE(std::string::npos, log.find(line)) << line << log;
  EXPECT_EQ(std::string::npos, log.find(" Notice: ")) << log;
}

TEST(daemon_faults, out_of_descriptors_it_serves_the_modules_it_has_and_accepts_again) {
  if (*QN_SANITIZERS) GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own, and this uses them all up";
  // At Warning: the lines held back before the settings that are below it are dropped.
  rig_t rig(public_share.substr(std::strlen("log_level: LOG_LEVEL_INFO ")) + " log_level: LOG_LEVEL_WARNING", "", "40");
  rig.box.write("a.txt", "clean");
  for (int i = 0; i < 60; ++i) {
    rig.add("public").event(msg_t::OP_OPEN, "/a.txt", 1);
    if (i == 0) rig.pump([] { return module_t::received == 1; });  // a.txt is known clean from here on
  }
  std::string const line = "Error: sm_module_server_t: accept: Too many open files; accepting again in 1 s\n";
  rig.pump([&] { return rig.log().find(line) != std::string::npos; });
  // Out of descriptors, it answers the modules it has.
  EXPECT_LT(module_t::received, 60u);
  rig.modules[0].serial = 1;
  EXPECT_EQ(1u, rig.ask(rig.modules[0], msg_t::OP_READ, "/a.txt"));
  // Modules that hang up free descriptors; the daemon takes the others after its pause. Then
  // ConfigD goes.
  rig.pump([&] {
    for (module_t& m : rig.modules)
      if (!m.verdicts.empty()) m.hang_up();
    return module_t::received >= 61;
  });
  rig.configd.close_socket();
  rig.finish(1);
  EXPECT_EQ(std::string::npos, rig.log().find("Notice: ")) << rig.log();
  for (std::size_t i = 1; i < 60; ++i) EXPECT_EQ((verdicts_t{{1, {1}}}), rig.modules[i].verdicts);
}

}  // namespace
