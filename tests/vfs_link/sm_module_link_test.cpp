#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include <boost/filesystem/operations.hpp>
#include <boost/system/system_error.hpp>

#include "service/sm_path_stamp.h"
#include "tests/vfs_link/vfs_link_fixture.h"
#include "vfs_link/sm_module_tie.h"

namespace {

std::string const settings =
    "log_level:LOG_LEVEL_DEBUG max_cache_size:1000 block_on_error:true excluded_path{item:'x'} included_path{item:'i'}";

TEST_F(vfs_link_test, bad_input_closes_the_connection_with_one_error_line_and_counts_it_out_once) {
  std::string const good = hello("/srv/share");
  // Answered from the cache faster than the module reads, so that a write is under way at the close.
  std::string opens;
  for (std::uint32_t serial = 1; serial <= 32768; ++serial) opens += event(msg_t::OP_OPEN, serial, "/srv/a", 7);
  std::pair<std::string, char const*> const cases[] = {
      {hello("share"), "bad IPC message"},
      {good + good, "bad IPC message"},
      {event(msg_t::OP_OPEN, 1, "/srv/a"), "bad IPC message"},
      {good + event(msg_t::OP_OPEN, 1, "/srv/a", 1, false), "bad IPC message"},
      {good + event(msg_t::OP_NONE, 1, "/srv/a"), "bad IPC message"},
      {good + event(msg_t::OP_CLOSE, 0, "/srv/a"), "bad IPC message"},
      {good + event(msg_t::OP_READ, 1, "srv/a"), "bad IPC message"},
      {good + frame_of(msg_t::make_verdict(1, 1)), "unknown IPC message"},
      {good + opens + configd_peer_t::frame("X"), "failed to deserialize"},
      // A body of 64 KiB is read; one byte more is refused before anything is allocated for it.
      {good + configd_peer_t::frame(std::string(64 << 10, 'X')), "failed to deserialize"},
      {good + configd_peer_t::frame(std::string((64 << 10) + 1, 'X')).substr(0, 4), "failed to process received data"},
  };
  configure(settings);
  known_clean(7);
  for (auto const& c : cases) {
    log.clear();
    int const fd = connect();
    // The frame behind the bad one is never handled.
    send(fd, c.first + event(msg_t::OP_OPEN, 1, "/srv/late"));
    EXPECT_TRUE(pump([&] { return !drain(fd); })) << c.second;
    EXPECT_EQ(1, count("Error: ")) << log.text();
    EXPECT_EQ(1, count(std::string("Error: VFS module connection: ") + c.second)) << c.second;
    EXPECT_FALSE(log.contains("/srv/late"));
  }
  std::uint64_t in = 0, out = 0;  // nine connections said hello
  app->share_stat->on_timer(boost::system::error_code());
  for (qn::SMBGardix2ConfigdMessage m; in < 9 && pump([&] { return configd.has_data(); });)
    for (auto const& share : (m = configd.receive()).stat().shares()) in += share.in(), out += share.out();
  EXPECT_EQ("9/9", std::to_string(in) + "/" + std::to_string(out));
}

TEST_F(vfs_link_test, settings_writes_and_verdicts_without_a_scan) {
  msg_t shared = msg_t::make_share_settings();
  shared.add_excluded_path("x"), shared.add_included_path("i");
  configure(settings);
  int const fd = connect();
  send(fd, hello("/srv/share"));
  EXPECT_EQ(frame_of(shared), next(fd));
  // A domain without a user makes no writer, and an address alone gets no domain.
  std::uint64_t id = 100;
  char const* const writers[][2] = {{"", ""}, {"bob", ""}, {"", "10.0.0.1"}};
  for (auto const& [user, ip] : writers) send(fd, event(msg_t::OP_WRITE, 0, "/srv/share/w", ++id, true, user, ip));
  // A file known clean is allowed before its path is looked at, even when the path is gone.
  known_clean(7);
  send(fd, event(msg_t::OP_OPEN, 5, "/gone", 7) + event(msg_t::OP_READ, 6, "/mi\"ss&ing", 8));
  EXPECT_EQ(frame_of(msg_t::make_verdict(5, 1)), next(fd));
  EXPECT_EQ(frame_of(msg_t::make_verdict(6, 2)), next(fd));
  std::string seen;
  for (std::shared_ptr<qn::RemoteUser> writer; id > 100; writer.reset(), --id)
    seen += app->file_cache->is_clean(id, id, writer) || !writer ? "-;" : writer->ShortDebugString() + ";";
  EXPECT_EQ("ip: \"10.0.0.1\";user: \"bob\" domain: \"corp\";-;", seen);
  EXPECT_TRUE(
      log.contains("Error: Failed to normalize path \"/mi&\"ss&&ing\" (canonical: No such file or directory: \"" +
                   root + "/mi\"ss&ing\"), access rejected"));

  // Suspended: settings again, the default verdict even for a known-clean file, writes ignored.
  configure(settings, true);
  EXPECT_EQ(frame_of(shared), next(fd));
  known_clean(7);
  send(fd, event(msg_t::OP_WRITE, 0, "/srv/share/w", 9) + event(msg_t::OP_OPEN, 9, "/gone", 7));
  EXPECT_EQ(frame_of(msg_t::make_verdict(9, 2)), next(fd));
  EXPECT_EQ(1u, app->file_cache->size());
}

TEST_F(vfs_link_test, a_share_at_its_bound_is_read_no_further_until_verdicts_make_room_then_answered_in_full) {
  configure("log_level:LOG_LEVEL_DEBUG block_on_error:true");
  box.write("a", "a");
  // Seventeen modules of one share ask for 256 scans each while ConfigD has not named the file checker;
  // the last one once the share is full, so that it has nothing under way.
  std::string stream = hello("/srv");
  for (std::uint32_t serial = 1; serial <= 256; ++serial) stream += event(msg_t::OP_READ, serial, "/a");
  auto const scans = [&] { return count("Debug: sm_proxy_scan_t::async_scan: "); };
  std::vector<int> modules(17);
  for (int& fd : modules) {
    EXPECT_TRUE(&fd != &modules.back() || pump([&] { return scans() >= 4096; }));
    send(fd = connect(), stream);
  }
  // Another share is served meanwhile.
  msg_t other;
  other.type = msg_t::TYPE_HELLO, other.tag = "other", other.basedir = "/o";
  int const fd = connect();
  send(fd, frame_of(other) + event(msg_t::OP_READ, 1, "/missing"));
  next(fd);
  EXPECT_EQ(frame_of(msg_t::make_verdict(1, 2)), next(fd));
  EXPECT_EQ(4096, scans());
  // A file checker that cannot be reached fails the scans: the last module is read again, and each gets
  // every verdict once, in order.
  configd.send(configd_peer_t::fcheck_response(box.file("none.sock")));
  std::string answered = frame_of(msg_t::make_share_settings());
  for (std::uint32_t serial = 1; serial <= 256; ++serial) answered += frame_of(msg_t::make_verdict(serial, 2));
  for (int module : modules)
    EXPECT_TRUE(pump([&] { return drain(module), inbox[module].size() >= answered.size(); }) &&
                inbox[module] == answered);
  EXPECT_EQ(17 * 256, scans());
}

TEST_F(vfs_link_test, the_longest_socket_path_that_fits_is_taken_and_one_byte_more_refused) {
  // The socket lies at the chroot folder joined with its name; the address holds 107 bytes.
  std::string const name(107 - root.size() - 1, 's');
  configure("smb_socket_path: '" + name + "'");
  EXPECT_TRUE(boost::filesystem::is_other(root + "/" + name));
  int refused = 0;
  try {
    configure("smb_socket_path: '" + name + "x'");
  } catch (boost::system::system_error const& e) {
    refused = e.code().value();
  }
  EXPECT_EQ(ENAMETOOLONG, refused);
}

TEST_F(vfs_link_test, cache_scripts) {
  // Steps: "c<n>" asks whether file n is clean and answers "1", or "0" and the writer's name; "w<n>" and "W<n>"
  // mark file n modified without a writer and by bob; "t" starts a scan 1 ms after the step before; "s<n>" stores
  // the last scan's clean result for file n.
  std::tuple<std::uint32_t, char const*, char const*> const cases[] = {
      // limit, script, answers. The entry touched longest ago goes first; a lookup and a stored result touch it.
      {100, "c1 c2 t s1 s2 c1 c3 c2 c1", "0 0 1 0 0 0 "},
      {100, "c1 c2 t s1 c3 c1", "0 0 0 1 "},
      // Three entries and bob, counted once, fill 161 bytes to the byte; he counts no more once rewritten.
      {161, "W1 W2 c3 c1", "0 0bob "},
      {160, "W1 W2 c3 c1", "0 0 "},
      {120, "W1 W2 w1 w2 t s1 s2 c3 c1 c2", "0 1 1 "},
      // A write after the scan started makes its result stale.
      {1000, "c5 t w5 s5 c5 t s5 c5", "0 0 1 "},
  };
  auto bob = std::make_shared<qn::RemoteUser>();
  bob->set_user("bob");
  for (auto const& [limit, script, expected] : cases) {
    configure("max_cache_size: " + std::to_string(limit));
    sm_file_cache_t& cache = *app->file_cache;
    std::istringstream steps(script);
    std::string answers;
    sm_clock_t::steady::time_point start;
    for (std::string step; steps >> step;) {
      std::uint64_t const n = std::strtoull(step.c_str() + 1, nullptr, 10);
      std::shared_ptr<qn::RemoteUser> writer;
      if (step[0] == 'c') answers += cache.is_clean(n, n, writer) ? "1 " : "0" + (writer ? writer->user() : "") + " ";
      if (step[0] == 'w' || step[0] == 'W') cache.mark_modified(n, n, step[0] == 'W' ? bob : nullptr);
      if (step[0] == 't') sm_clock_t::advance(1ms), start = sm_clock_t::steady::now();
      if (step[0] == 's') cache.store_check_result(n, n, true, start);
    }
    EXPECT_EQ(expected, answers) << script;
  }
}

TEST_F(vfs_link_test, a_scan_waits_for_the_clock_to_pass_the_changes_on_its_path_50_ms_at_most) {
  // What each look at the clock finds, the last one staying: 'b' an hour before the file's change time, 'a' an
  // hour after now, 'c' the file's change time, the file having just changed again, and what the Debug line
  // says of an allowed answer not to be cached; none when it may be.
  std::pair<char const*, std::string> const cases[] = {
      {"a", ""},
      {"ba", ""},
      {"bba", ""},
      {"bc", "again while its scan waited for the clock"},
      {"b", "at a time the clock did not pass within 50 ms"},
  };
  configure("log_level:LOG_LEVEL_DEBUG max_cache_size:1000");
  int const fd = connect();
  send(fd, hello("/srv/share"));
  std::uint32_t serial = 0;
  for (auto const& [looks, why] : cases) {
    std::string const name = "f" + std::to_string(++serial), path = box.write(name, "x");
    auto const sent = [&] { return log.contains("Debug: sm_proxy_scan_t::async_scan: \"" + path + "\""); };
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    timespec const behind{st.st_ctim.tv_sec - 3600, 0}, ahead{::time(nullptr) + 3600, 0};
    sm_path_stamp_t const first(path, root.size());
    auto const start = sm_clock_t::steady::now();
    std::size_t const last = std::strlen(looks) - 1;
    std::size_t look = 0;
    sm_clock_t::pin_coarse_real(looks[0] == 'b' ? behind : ahead);
    send(fd, event(msg_t::OP_READ, serial, "/" + name, serial));
    // Each round lets the daemon look once more, a tick later, and sets what its next look finds.
    for (;; ++look) {
      std::uint64_t const reads = sm_clock_t::pinned_reads();
      if (look > 0) sm_clock_t::advance(sm_clock_t::coarse_real_tick());
      if (!pump([&] { return sent() || sm_clock_t::pinned_reads() > reads; }) || sent()) break;
      char const next = looks[std::min(look + 1, last)];
      timespec reading = next == 'b' ? behind : ahead;
      // The file changes until its time is past the first stamp's, each node's grain added.
      for (auto end = std::chrono::steady_clock::now() + 2s; next == 'c';) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "the file system's clock stands still";
        ASSERT_EQ(0, ::chmod(path.c_str(), st.st_mode & 1 ? 0600 : 0601));
        ASSERT_EQ(0, ::stat(path.c_str(), &st));
        if (first.trust(reading = st.st_ctim) == sm_path_stamp_t::trusted) break;
      }
      sm_clock_t::pin_coarse_real(reading);
    }
    std::string const line = "Debug: sm_module_tie_t::scan: \"" + path + "\" or a folder above it changed ";
    if (why.empty())
      EXPECT_EQ(0, count(line)) << looks;
    else
      EXPECT_TRUE(log.contains(line + why + " (dev=" + std::to_string(serial) + " ino=" + std::to_string(serial) +
                               "), access allowed is not cached"))
          << looks << "\n"
          << log.text();
    if (looks[last] == 'b')
      EXPECT_GE(sm_clock_t::steady::now() - start, sm_module_tie_t::max_clock_wait) << looks;
    else
      EXPECT_EQ(last, look) << looks << ": sent at another look";
  }
}

}  // namespace
