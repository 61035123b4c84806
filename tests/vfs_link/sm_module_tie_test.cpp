// The module connection end to end: the chroot boundary and a module that does not read its verdicts.

#include <fstream>
#include <regex>

#include <boost/filesystem/operations.hpp>

#include "framework/util/cf_io.h"
#include "tests/support/daemon_rig.h"

namespace {

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
  EXPECT_EQ(1u, rig.ask(m, msg_t::OP_READ, "/inside"));  // scanned: the default verdict rejects
  boost::filesystem::remove(sibling);
  EXPECT_FALSE(boost::filesystem::exists(bad + ".quarn.alert.txt"));
  std::string const log = rig.log(), scans = cf_read_file(rig.box.file("fc.out"));
  for (auto const& [path, target] : outward)
    EXPECT_NE(std::string::npos, log.find(" Error: Failed to normalize path \"" + path + "\" (\"" + target +
                                          "\" lies outside \"" + root + "\"), access rejected\n"))
        << log;
  EXPECT_EQ(std::string::npos, scans.find("bad.com")) << scans;
}

// A file of the daemon's under /proc.
std::string daemon_proc(int module_fd, std::string const& name) {
  ucred peer{};
  socklen_t size = sizeof peer;
  EXPECT_EQ(0, ::getsockopt(module_fd, SOL_SOCKET, SO_PEERCRED, &peer, &size));
  std::ifstream in("/proc/" + std::to_string(peer.pid) + "/" + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(module_tie_road, a_module_that_does_not_read_is_read_no_further_until_it_does) {
  rig_t rig("log_level: LOG_LEVEL_WARNING max_cache_size: 65536 share { item { tag: 's' } }", "", "-S 512");
  rig.box.write("a.txt", "clean");
  module_t &lazy = rig.add("s"), &other = rig.add("s");
  // Started with a soft limit on descriptors below the hard one, it raised it.
  EXPECT_TRUE(std::regex_search(daemon_proc(lazy.fd, "limits"), std::regex("Max open files +(\\w+) +\\1 ")));
  auto resident_kib = [&, status = std::string()]() mutable {
    return std::stol((status = daemon_proc(lazy.fd, "status")).substr(status.find("VmRSS:") + 6));
  };
  EXPECT_EQ(1u, rig.ask(lazy, msg_t::OP_OPEN, "/a.txt"));
  // Opens of a file known clean, answered as fast as they come.
  std::uint32_t const count = 200000;
  std::vector<char> const stream = lazy.events(msg_t::OP_OPEN, "/a.txt", 2, count);
  std::size_t sent = 0;
  auto const push = [&] {
    for (ssize_t put = 1; put > 0 && stream.size() > sent;)
      if ((put = ::send(lazy.fd, &stream[sent], stream.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL)) > 0) sent += put;
  };
  long const before = resident_kib();
  // Sent until the daemon has taken nothing for half a second.
  for (pollfd p{lazy.fd, POLLOUT, 0}; push(), sent < stream.size() && ::poll(&p, 1, 500) == 1;) continue;
  EXPECT_LT(sent, stream.size() / 4);
  // The sanitizers' quarantine keeps what the daemon frees.
  EXPECT_TRUE(*QN_SANITIZERS || resident_kib() - before < 2048) << resident_kib() - before;
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
  auto const scans = [&] {
    std::string const out = cf_read_file(rig.box.file("fc.out"));
    long found = 0;
    for (std::size_t at = 0; (at = out.find("not answered", at)) != std::string::npos; ++at) ++found;
    return found;
  };
  rig.pump([&] { return scans() >= 256; });
  // Round trips of another module give the daemon every chance to read on.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(1u, rig.ask(other, msg_t::OP_READ, "/missing"));
  EXPECT_LT(scans(), 400);  // the frames of the read that passed the bound are still handled
}

}  // namespace
