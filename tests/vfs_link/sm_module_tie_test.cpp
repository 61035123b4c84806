// The module connection end to end: the chroot boundary and a module that does not read its verdicts.

#include <sys/mount.h>
#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <regex>

#include <boost/filesystem/operations.hpp>

#include "framework/util/cf_io.h"
#include "tests/support/daemon_rig.h"

namespace {

// A file of the daemon's under /proc.
std::string daemon_proc(int module_fd, std::string const& name) {
  ucred peer{};
  socklen_t size = sizeof peer;
  EXPECT_EQ(0, ::getsockopt(module_fd, SOL_SOCKET, SO_PEERCRED, &peer, &size));
  std::ifstream in("/proc/" + std::to_string(peer.pid) + "/" + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

long resident_kib(int module_fd) {
  std::string const status = daemon_proc(module_fd, "status");
  return std::stol(status.substr(status.find("VmRSS:") + 6));
}

TEST(module_tie_road, paths_that_lead_out_of_the_chroot_get_the_default_verdict_unscanned) {
  rig_t rig("log_level: LOG_LEVEL_INFO share { item { tag: 's' alert_files: true block_on_error: true } }");
  test_sandbox_t outside;
  std::string const root = boost::filesystem::canonical(rig.root).string(), bad = outside.file("bad.com"),
                    sibling = root + "X";  // shares the chroot's name as a prefix
  ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", bad}, {}).status);
  boost::filesystem::copy_file(bad, sibling);
  rig.box.write("clean.txt", "clean");
  std::pair<std::string, char const*> const links[] = {
      {bad, "/link"}, {sibling, "/near"}, {outside.path(), "/dir"}, {root + "/clean.txt", "/inside"}};
  for (auto const& [target, link] : links) boost::filesystem::create_symlink(target, root + link);
  // Up and out ("/../<outside folder>/bad.com"), through links to a file, a prefix sibling and a folder.
  std::pair<std::string, std::string> const outward[] = {{"/.." + bad.substr(bad.rfind('/', bad.size() - 9)), bad},
                                                         {"/link", bad},
                                                         {"/near", sibling},
                                                         {"/dir/bad.com", bad}};
  module_t& m = rig.add("s");
  for (auto const& [path, target] : outward) EXPECT_EQ(2u, rig.ask(m, msg_t::OP_OPEN, path)) << path;
  // A NUL would have the system cut the path short, to "/inside": refused, not scanned.
  EXPECT_EQ(2u, rig.ask(m, msg_t::OP_OPEN, std::string("/inside\0/../x", 13)));
  EXPECT_EQ(2u, rig.ask(m, msg_t::OP_OPEN, "/" + std::string(4096, 'x')));  // past the system's limit
  EXPECT_EQ(1u, rig.ask(m, msg_t::OP_READ, "/inside"));                     // scanned: the default verdict rejects
  boost::filesystem::remove(sibling);
  EXPECT_FALSE(boost::filesystem::exists(bad + ".quarn.alert.txt"));
  std::string const log = rig.log(), scans = rig.fc_out();
  for (auto const& [path, target] : outward)
    EXPECT_NE(std::string::npos, log.find(" Error: Failed to normalize path \"" + path + "\" (\"" + target +
                                          "\" lies outside \"" + root + "\"), access rejected\n"))
        << log;
  EXPECT_NE(
      std::string::npos,
      log.find(" Error: Failed to normalize path \"/inside\\x00/../x\" (the path holds a NUL byte), access rejected\n"))
      << log;
  EXPECT_EQ(1, rig.fc_count("PROXY_SCAN_REQUEST")) << scans;
}

TEST(module_tie_road, a_module_that_does_not_read_is_read_no_further_until_it_does) {
  rig_t rig("log_level: LOG_LEVEL_WARNING max_cache_size: 65536 share { item { tag: 's' } }", "", "-S 512");
  rig.box.write("a.txt", "clean");
  module_t &lazy = rig.add("s"), &other = rig.add("s");
  // Started with a soft limit on descriptors below the hard one, it raised it to the hard one, which stays.
  rlimit files{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &files));
  std::string const hard = files.rlim_max == RLIM_INFINITY ? "unlimited" : std::to_string(files.rlim_max);
  EXPECT_TRUE(
      std::regex_search(daemon_proc(lazy.fd, "limits"), std::regex("Max open files +" + hard + " +" + hard + " ")))
      << daemon_proc(lazy.fd, "limits");
  EXPECT_EQ(1u, rig.ask(lazy, msg_t::OP_OPEN, "/a.txt"));
  // Opens of a file known clean, answered as fast as they come.
  std::uint32_t const count = 200000;
  std::vector<char> const stream = lazy.events(msg_t::OP_OPEN, "/a.txt", 2, count);
  std::size_t sent = 0;
  auto const push = [&] {
    for (ssize_t put = 1; put > 0 && stream.size() > sent;)
      if ((put = ::send(lazy.fd, &stream[sent], stream.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL)) > 0) sent += put;
  };
  long const before = resident_kib(lazy.fd);
  // Sent until the daemon has taken nothing for half a second.
  for (pollfd p{lazy.fd, POLLOUT, 0}; push(), sent < stream.size() && ::poll(&p, 1, 500) == 1;) continue;
  EXPECT_LT(sent, stream.size() / 4);
  // The sanitizers' quarantine keeps what the daemon frees.
  EXPECT_TRUE(*QN_SANITIZERS || resident_kib(lazy.fd) - before < 2048) << resident_kib(lazy.fd) - before;
  EXPECT_EQ(1u, rig.ask(other, msg_t::OP_OPEN, "/a.txt"));
  // Reading, it gets every verdict once.
  rig.pump([&] { return push(), module_t::received >= count + 1; });
  std::size_t allowed_once = 0;
  for (auto const& verdict : lazy.verdicts) allowed_once += verdict.second == std::vector<std::uint32_t>{1};
  EXPECT_EQ(count, allowed_once);
}

TEST(module_tie_road, a_module_with_its_fill_of_requests_unanswered_is_read_no_further) {
  rig_t rig("log_level: LOG_LEVEL_WARNING share { item { tag: 's' } }", "--stuck-scans silent");
  rig.box.write("a.txt", "clean");
  module_t &flood = rig.add("s"), &other = rig.add("s");
  std::vector<char> const stream = flood.events(msg_t::OP_READ, "/a.txt", 1, 1000);
  EXPECT_EQ(ssize_t(stream.size()), ::send(flood.fd, stream.data(), stream.size(), MSG_NOSIGNAL));
  auto const scans = [&] { return rig.fc_count("not answered"); };
  rig.pump([&] { return scans() >= 256; });
  // Round trips of another module give the daemon every chance to read on.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(1u, rig.ask(other, msg_t::OP_READ, "/missing"));
  EXPECT_EQ(256, scans());  // the frames behind the bound wait where they are
}

TEST(module_tie_road, a_share_holds_4096_unanswered_requests_at_most_while_other_shares_are_served) {
  rig_t rig("log_level: LOG_LEVEL_WARNING max_cache_size: 65536 share { item { tag: 's' } }", "--stuck-scans silent");
  // Paths of some 500 bytes, so that what the daemon holds for each shows.
  std::string const path = "/" + std::string(250, 'd') + "/" + std::string(240, 'f');
  boost::filesystem::create_directory(rig.root + path.substr(0, 251));
  rig.box.write(path.substr(1), "clean");
  module_t& other = rig.add("t");
  auto const scans = [&] { return rig.fc_count("not answered"); };
  long before = 0;
  // Forty modules take their settings, ask for 256 scans each and hang up; their scans stay, as the file
  // checker never answers.
  for (int round = 1; round <= 40; ++round) {
    module_t& m = rig.add("s");
    rig.pump([&] { return m.settings == 1; });
    std::vector<char> const stream = m.events(msg_t::OP_OPEN, path, 1, 256);
    EXPECT_EQ(ssize_t(stream.size()), ::send(m.fd, stream.data(), stream.size(), MSG_DONTWAIT | MSG_NOSIGNAL))
        << std::strerror(errno);
    m.hang_up();
    if (round != 16) continue;
    rig.pump([&] { return scans() >= 4096; });
    before = resident_kib(other.fd);
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(1u, rig.ask(other, msg_t::OP_READ, "/missing"));
  EXPECT_EQ(4096, scans());
  // The sanitizers' quarantine keeps what the daemon frees.
  EXPECT_TRUE(*QN_SANITIZERS || resident_kib(other.fd) - before < 2048) << resident_kib(other.fd) - before;
}

TEST(module_tie_road, a_file_swapped_for_another_while_it_is_scanned_is_not_cached_as_allowed) {
  // The file checker reads a file 600 ms after the request, time enough to swap it; one holding SLOW or EVIL
  // it answers 600 ms after that, EVIL as a known virus, which share "r" reports and allows. Its threat
  // database lies outside the chroot, whose folder would otherwise change with every detection.
  test_sandbox_t rules;
  rig_t rig(
      "log_level: LOG_LEVEL_DEBUG max_cache_size: 65536 share { item { tag: 's' block_on_error: true "
      "on_known_virus: SMB_BLOCK } item { tag: 'r' on_known_virus: SMB_REPORT } }",
      "--db " + rules.file("threats.db") + " --scan-delay 600 --rules " +
          rules.write("rules",
                      "rule { pattern: 'SLOW' delay_ms: 600 } rule { pattern: 'EVIL' delay_ms: 600 "
                      "report { virus { type: SE_KNOWN_VIRUS name: 'Evil' } } }"));
  std::string const root = boost::filesystem::canonical(rig.root).string();
  for (char const* file : {"a.com", "d.com"})
    ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", rig.box.file(file)}, {}).status);
  rig.box.write("c.txt", "SLOW"), rig.box.write("f.txt", "EVIL"), rig.box.write("h.txt", "EVIL");
  module_t &m = rig.add("s"), &reporting = rig.add("r");
  auto const move = [&](char const* from, char const* to) {
    ASSERT_EQ(0, ::rename((root + from).c_str(), (root + to).c_str())) << from;
  };
  auto const verdict = [&](module_t& module) {
    rig.pump([&] { return module.verdicts.count(module.serial); });
    return module.verdicts[module.serial];
  };
  // Renamed away once the scan is sent and a clean file put in its place, before the file checker reads it.
  m.event(msg_t::OP_OPEN, "/a.com", ++m.serial);
  rig.await_fc("path=\"" + root + "/a.com\"");
  move("/a.com", "/b.com");
  rig.box.write("a.com", "clean");
  EXPECT_EQ(std::vector<std::uint32_t>{1}, verdict(m));
  EXPECT_EQ(2u, rig.ask(m, msg_t::OP_OPEN, "/b.com"));
  // Asked about under the name of a clean file that had taken its place, and back in place by the answer.
  msg_t stale = m.file_event(msg_t::OP_OPEN, "/d.com", ++m.serial);
  stale.path = "/c.txt";
  m.put(stale);
  rig.await_fc("read \"" + root + "/c.txt\"");
  move("/c.txt", "/e.txt");
  move("/d.com", "/c.txt");
  EXPECT_EQ(std::vector<std::uint32_t>{1}, verdict(m));
  EXPECT_EQ(2u, rig.ask(m, msg_t::OP_OPEN, "/c.txt"));
  // Reported and allowed, but by the answer another file under its name, one that the cache holds an entry
  // for: that one stays unknown, and on the share that blocks it, it is blocked.
  msg_t known = m.file_event(msg_t::OP_OPEN, "/h.txt", ++m.serial);
  known.path = "/nowhere";
  m.put(known);
  EXPECT_EQ(std::vector<std::uint32_t>{2}, verdict(m));
  reporting.event(msg_t::OP_OPEN, "/f.txt", ++reporting.serial);
  rig.await_fc("read \"" + root + "/f.txt\"");
  move("/f.txt", "/g.txt");
  move("/h.txt", "/f.txt");
  EXPECT_EQ(std::vector<std::uint32_t>{1}, verdict(reporting));
  EXPECT_EQ(2u, rig.ask(m, msg_t::OP_OPEN, "/f.txt"));
  EXPECT_NE(std::string::npos, rig.log().find("Debug: sm_threat_handler_t::process_scan_info: \"" + root +
                                              "/c.txt\" is not the file asked about (dev="))
      << rig.log();
}

TEST(module_tie_road, an_allowed_answer_is_cached_only_when_nothing_on_the_path_changed_during_the_scan) {
  // The file checker runs the hook, a share user, just before it reads a file and just after; each case
  // works in a folder of its own under the chroot, asking about d/f, with a clean decoy at decoy/f. The
  // hook, the threat database and the clock probe lie outside the chroot.
  test_sandbox_t outside;
  std::string const hook = outside.file("hook"), test_file = outside.file("test.com");
  ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", test_file}, {}).status);
  rig_t rig("log_level: LOG_LEVEL_DEBUG max_cache_size: 65536 share { item { tag: 's' on_known_virus: SMB_BLOCK } }",
            "--db " + outside.file("threats.db") + " --scan-hook " + hook);
  // `above`: a sibling of the chroot, in the folder above it.
  std::string const root = boost::filesystem::canonical(rig.root).string(), above = root + ".above";
  auto const set_hook = [&](std::string const& dir, std::string const& before, std::string const& after) {
    outside.write("hook", "#!/bin/sh\ncd '" + root + "/" + dir + "' && case $1 in before) " + before + ";; after) " +
                              after + ";; esac\n");
    ASSERT_EQ(0, ::chmod(hook.c_str(), 0700));
  };
  // folder, whether d/f is infected, the hook's two steps, the verdicts of opens one after another (the hook
  // acts in the first scan only), and how many times d/f is read in all
  std::tuple<char const*, bool, std::string, std::string, std::vector<std::uint32_t>, long> const cases[] = {
      {"renamed", true, "mv d/f d/away && mv decoy/f d/f", "mv d/f decoy/f && mv d/away d/f", {1, 2}, 2},
      {"hard_link", true, "ln d/f keep && ln -f decoy/f d/f", "ln -f keep d/f && rm keep", {1, 2}, 2},
      {"folder_link", true, "mv d away && ln -s decoy d", "rm d && mv away d", {1, 2}, 2},
      {"folder_renamed", true, "mv d away && mv decoy d", "mv d decoy && mv away d", {1, 2}, 2},
      // A folder's entries changing during the scan leave its file uncached, until a calm scan.
      {"sibling", false, ":", ": > d/sibling", {1, 1, 1}, 2},
      {"calm", false, ":", ":", {1, 1}, 1},
      // Above the chroot is none of the share's business.
      {"above", false, ":", ": > '" + above + "' && rm '" + above + "'", {1, 1}, 1},
  };
  module_t& m = rig.add("s");
  for (auto const& [dir, infected, before, after, verdicts, reads] : cases) {
    std::string const top = root + "/" + dir;
    boost::filesystem::create_directories(top + "/d"), boost::filesystem::create_directory(top + "/decoy");
    rig.box.write(std::string(dir) + "/decoy/f", "clean");
    if (infected)
      boost::filesystem::copy_file(test_file, top + "/d/f");
    else
      rig.box.write(std::string(dir) + "/d/f", "clean");
    set_hook(dir, before, after);
    outside.await_clock_tick();
    std::vector<std::uint32_t> got;
    for (std::size_t i = 0; i < verdicts.size(); ++i, set_hook(dir, ":", ":"))
      got.push_back(rig.ask(m, msg_t::OP_OPEN, "/" + std::string(dir) + "/d/f"));
    EXPECT_EQ(verdicts, got) << dir;
    EXPECT_EQ(reads, rig.fc_count("read \"" + top + "/d/f\"")) << dir;
  }
  EXPECT_EQ(0, rig.fc_count("scan hook")) << rig.fc_out();
  EXPECT_NE(std::string::npos, rig.log().find("Debug: sm_threat_handler_t::process_scan_info: \"" + root +
                                              "/renamed/d/f\" or a folder above it changed while it was scanned (dev="))
      << rig.log();
}

TEST(module_tie_road, a_file_swapped_and_back_in_the_clock_tick_of_its_scan_is_never_cached_where_times_are_coarse) {
  // On ramfs every change time comes from the coarse clock. The file checker swaps each file with a clean decoy
  // just before it reads it and back just after, at once: in the tick of the send, unless the daemon waited for
  // the clock to pass it.
  test_sandbox_t outside;
  ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", outside.file("test.com")}, {}).status);
  rig_t rig("log_level: LOG_LEVEL_INFO max_cache_size: 65536 share { item { tag: 's' on_known_virus: SMB_BLOCK } }",
            "--db " + outside.file("threats.db") + " --exchange-on-read decoy");
  std::string const root = boost::filesystem::canonical(rig.root).string(), coarse = root + "/r";
  boost::filesystem::create_directory(coarse);
  if (::mount("none", coarse.c_str(), "ramfs", 0, nullptr) != 0) GTEST_SKIP() << "no ramfs: " << std::strerror(errno);
  struct unmount_t {
    std::string path;
    ~unmount_t() { ::umount2(path.c_str(), MNT_DETACH); }
  } const unmount{coarse};
  std::string const infected = cf_read_file(outside.file("test.com"));
  module_t& m = rig.add("s");
  for (int i = 0; i < 20; ++i) {
    std::string const dir = "/r/" + std::to_string(i);
    boost::filesystem::create_directory(root + dir);
    rig.box.write(dir.substr(1) + "/decoy", "clean");
    rig.box.write(dir.substr(1) + "/f", infected);          // the file and its folder change now
    EXPECT_EQ(1u, rig.ask(m, msg_t::OP_OPEN, dir + "/f"));  // the decoy was read
    EXPECT_EQ(1u, rig.ask(m, msg_t::OP_OPEN, dir + "/f"));
    EXPECT_EQ(2, rig.fc_count("read \"" + root + dir + "/f\"")) << dir << ": cached as clean";
  }
  EXPECT_EQ(0, rig.fc_count("failed")) << rig.fc_out();
}

TEST(module_tie_road, a_file_written_and_opened_at_once_is_scanned_once_then_served_from_the_cache) {
  // The file and its folder changed in the clock tick of the first open, or with a change time ahead of the
  // clock as it is read, which the scan waits for the clock to pass before it is sent.
  rig_t rig("log_level: LOG_LEVEL_DEBUG max_cache_size: 65536 share { item { tag: 's' } }");
  std::string const root = boost::filesystem::canonical(rig.root).string();
  module_t& m = rig.add("s");
  for (char const letter : std::string("abcdefghij")) {
    std::string const name = std::string("/") + letter + ".txt";
    rig.box.write(name.substr(1), "clean");
    EXPECT_EQ(1u, rig.ask(m, msg_t::OP_OPEN, name));
    EXPECT_EQ(1u, rig.ask(m, msg_t::OP_OPEN, name));
    EXPECT_EQ(1, rig.fc_count("read \"" + root + name + "\"")) << name;
  }
}

TEST(module_tie_road, a_file_two_thousand_folders_deep_is_cached_alerted_and_acted_on) {
  // Detections are recorded an hour in the past, so that their delayed actions are due at once.
  rig_t rig(
      "log_level: LOG_LEVEL_INFO max_cache_size: 65536 action_delay: 60000 share { item { tag: 'q' alert_files: true "
      "on_known_virus: SMB_QUARANTINE } item { tag: 'b' alert_files: true on_known_virus: SMB_BLOCK } }",
      "--backdate 3600");
  std::string const root = boost::filesystem::canonical(rig.root).string();
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "/d";
  boost::filesystem::create_directories(root + deep);
  rig.box.write(deep.substr(1) + "/clean.txt", "clean");
  for (char const* file : {"/q.com", "/b.com"})
    ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", root + deep + file}, {}).status);
  module_t &q = rig.add("q"), &b = rig.add("b");
  EXPECT_EQ(1u, rig.ask(q, msg_t::OP_OPEN, deep + "/clean.txt"));
  EXPECT_EQ(1u, rig.ask(q, msg_t::OP_OPEN, deep + "/clean.txt"));
  EXPECT_EQ(1, rig.fc_count("read \"" + root + deep + "/clean.txt\""));
  EXPECT_EQ(2u, rig.ask(b, msg_t::OP_OPEN, deep + "/b.com"));
  EXPECT_EQ(0, ::access((root + deep + "/b.com.quarn.alert.txt").c_str(), F_OK));
  // Quarantined once due, and its alert file removed.
  EXPECT_EQ(2u, rig.ask(q, msg_t::OP_OPEN, deep + "/q.com"));
  rig.await_fc("quarantined \"" + root + deep + "/q.com\"");
  rig.pump([&] { return ::access((root + deep + "/q.com.quarn.alert.txt").c_str(), F_OK) != 0; });
  EXPECT_EQ(std::string::npos, rig.log().find(" Error: ")) << rig.log();
  EXPECT_EQ(std::string::npos, rig.log().find(" Warning: ")) << rig.log();
}

}  // namespace
