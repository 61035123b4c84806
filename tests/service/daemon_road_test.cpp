// The verdict road end to end: the real daemon under a ConfigD played by the test, the real
// file-checker stand-in with its threat database, and VFS modules played by the test over the
// daemon's socket.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "framework/error/cf_proto_error_impl.h"
#include "framework/util/cf_io.h"
#include "kson/transport_stream.h"
#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"
#include "vfs_link/sm_module_msg.h"

namespace {

typedef sm_module_msg_t msg_t;

// A VFS module on its own connection: says hello, then sends file events without a tag and takes
// the verdicts. A reply that does not come within 10 s fails the test.
class module_t : public kson::transport_stream_t {
 public:
  module_t(std::string const& root, std::string const& tag) : root(root) {
    sockaddr_un address{AF_UNIX, {}};
    timeval const bound{10, 0};
    (root + "/vfs.sock").copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) +
                     ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound));
    msg_t hello;
    hello.type = msg_t::TYPE_HELLO, hello.tag = tag, hello.basedir = "/" + tag;
    put(hello);
    EXPECT_EQ(msg_t::TYPE_SHARE_SETTINGS, next().type);
  }
  ~module_t() override { ::close(fd); }

  // dev and ino come from the file under the root, as Samba sees it.
  void event(std::uint32_t op, std::string const& path, std::string const& writer = "") {
    struct stat st {};
    ::stat((root + path).c_str(), &st);
    msg_t m;
    m.type = msg_t::TYPE_FILE_EVENT, m.op = op, m.path = path, m.serial = op == msg_t::OP_WRITE ? 0 : ++serial;
    m.dev = st.st_dev, m.ino = st.st_ino, m.has_dev = m.has_ino = true;
    std::istringstream(writer) >> m.user >> m.domain >> m.ip;
    put(m);
  }
  std::uint32_t verdict() {
    msg_t const m = next();
    EXPECT_EQ(msg_t::TYPE_VERDICT * 1000 + serial, m.type * 1000 + m.serial);
    return m.verdict;
  }
  void on_message(kson::parser_t& parser) override { EXPECT_TRUE(inbox.emplace_back().deserialize(parser)); }

 private:
  void put(msg_t const& m) {
    std::vector<char> out;
    EXPECT_TRUE(serialize(m, out) && ::write(fd, out.data(), out.size()) == ssize_t(out.size()));
  }
  msg_t next() {
    char chunk[4096];
    for (ssize_t got; inbox.empty() && (got = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) process(chunk, got);
    if (inbox.empty()) return ADD_FAILURE() << "no reply", msg_t();
    msg_t const m = inbox.front();
    return inbox.pop_front(), m;
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::string root;
  std::uint32_t serial = 0;
  std::deque<msg_t> inbox;
};

// Polls for at most 20 s for what the daemon and the file checker do between them.
bool eventually(std::function<bool()> const& done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(daemon_road, verdicts_writers_locks_scan_failures_and_the_whole_life_of_a_detection) {
  test_sandbox_t box;
  std::string const root = box.path(), stub = QN_BIN_DIR "/fcheck-stub", fc = box.file("fc.sock");
  std::string const failing = box.file("failing/fc.sock"), db = box.file("threats.db");
  for (char const* dir : {"/s", "/q", "/o", "/failing"}) ::mkdir((root + dir).c_str(), 0700);
  box.write("s/clean.txt", "clean"), box.write("o/x.txt", "x"), box.write("o/y.txt", "y");
  for (char const* file : {"s/locked.com", "q/life.com"})
    ASSERT_EQ(0, run_program({stub, "--make-test-file", box.file(file)}, {}).status);
  // Detections are recorded an hour in the past, so that their delayed actions are due at once.
  test_child_t checker({stub, "--socket", fc, "--backdate", "3600"}, test_child_t::environment());
  test_child_t broken({stub, "--socket", failing, "--fail-scans", "EC_SCAN_LIMIT_REACHED"},
                      test_child_t::environment());
  ASSERT_EQ("ready", checker.next_line());
  ASSERT_EQ("ready", broken.next_line());

  configd_peer_t daemon({QN_BIN_DIR "/quarn-smbgardix"}, "3");
  daemon.expect(qn::SMBGardix2ConfigdMessage::GET_CONFIG_REQUEST);
  qn::SMBGardixConfig config = configd_peer_t::stderr_config();
  config.set_samba_chroot_dir(root);
  ASSERT_TRUE(google::protobuf::TextFormat::MergeFromString(
      "smb_socket_path: 'vfs.sock' max_cache_size: 65536 action_delay: 60000 share { item { tag: 'Public_Docs' "
      "alert_files: true on_known_virus: SMB_BLOCK } item { tag: 'quar' alert_files: true on_known_virus: "
      "SMB_QUARANTINE } item { tag: 'strict' block_on_error: true } item { tag: 'lax' block_on_error: false } }",
      &config));
  daemon.send(configd_peer_t::config_response(1, config));
  // ConfigD names the file checker to the subscription and to each share's first scan.
  auto const route = [&](std::string const& socket) {
    while (daemon.receive().tag() != qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST) continue;
    qn::Configd2SMBGardixMessage answer;
    answer.set_tag(qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE), answer.set_uid(::getuid());
    daemon.send((answer.set_socket_path(socket), answer));
  };
  route(fc);
  daemon.expect(qn::SMBGardix2ConfigdMessage::MY_INFO_NOTIFICATION);
  module_t pub(root, "Public_Docs"), quar(root, "quar"), strict(root, "strict"), lax(root, "lax");
  pub.event(msg_t::OP_WRITE, "/s/locked.com", "bob CORP 10.1.2.3");
  std::string const alert = root + "/q/life.com.quarn.alert.txt";

  // module, operation, path, where ConfigD sends its first scan, verdict
  std::tuple<module_t*, std::uint32_t, char const*, std::string, std::uint32_t> const steps[] = {
      {&pub, msg_t::OP_OPEN, "/s/clean.txt", fc, 1},
      {&pub, msg_t::OP_OPEN, "/s/clean.txt", "", 1},  // from the cache
      {&pub, msg_t::OP_OPEN, "/s/locked.com", "", 2},
      {&quar, msg_t::OP_OPEN, "/q/life.com", fc, 2},
      {&strict, msg_t::OP_READ, "/o/x.txt", failing, 2},
      {&lax, msg_t::OP_READ, "/o/y.txt", failing, 1},
      {nullptr, 0, "", "", 0},                         // the detection is written with its writer, share tag and lock
      {&pub, msg_t::OP_OPEN, "/s/locked.com", "", 2},  // locked: no scan
      {&pub, msg_t::OP_READ, "/s/locked.com", "", 2},  // a read is scanned
  };
  auto const sql = [&](std::string const& query) {
    return run_program({"/usr/bin/sqlite3", "-cmd", ".timeout 5000", db, query}, {}).out;
  };
  for (auto const& [module, op, path, socket, verdict] : steps) {
    if (!module) {
      EXPECT_TRUE(eventually([&] {
        return sql("SELECT tag, locked, remote_user, remote_domain, remote_ip FROM history JOIN threat USING "
                   "(threat_id) WHERE threat_id = 1") == "publicdocs|1|bob|CORP|10.1.2.3\n";
      }));
      continue;
    }
    module->event(op, path);
    if (!socket.empty()) route(socket);
    EXPECT_EQ(verdict, module->verdict()) << path;
    EXPECT_TRUE(std::strcmp(path, "/q/life.com") || !::access(alert.c_str(), F_OK));
  }
  std::string const blocked = cf_read_file(root + "/s/locked.com.quarn.alert.txt");
  EXPECT_TRUE(std::regex_match(
      blocked, std::regex("Please note that your file \"locked\\.com\" has been blocked at \\w{3} \\w{3} [ \\d]\\d "
                          "\\d\\d:\\d\\d:\\d\\d \\d{4} because it contains the following threat: Standard-Test-File "
                          "\\(known virus\\)!\r\n\r\nYou can delete this file\\.\r\nIt is strongly recommended to do "
                          "the anti-virus scan of your PC!\r\n")))
      << blocked;

  // The other detection, notified, is acted on once due: quarantined, neutralized, its alert file removed.
  EXPECT_TRUE(eventually([&] { return ::access(alert.c_str(), F_OK) != 0; }));
  EXPECT_EQ("1|0\n3|1\n", sql("SELECT event, neutralized FROM history WHERE threat_id = 2 ORDER BY history_id"));
  EXPECT_EQ(0, ::access((root + "/quarantine/2-life.com").c_str(), F_OK));

  daemon.signal(SIGTERM);
  EXPECT_EQ(107, daemon.wait());
  for (test_child_t* stand_in : {&checker, &broken}) {
    stand_in->signal(SIGTERM);
    EXPECT_EQ(0, stand_in->wait());
  }
  std::string const failed = " (" + qn::make_error_code(qn::EC_SCAN_LIMIT_REACHED).message() + "), access ";
  auto const q = [&](std::string const& path) { return "\"" + root + path + "\""; };
  std::string const lines[] = {
      "Notice: " + q("/s/locked.com") + " - infected with Standard-Test-File, last modified by CORP\\bob from 10.1.2.3",
      "Info: " + q("/s/locked.com") + ": access rejected",
      "Debug: " + q("/s/locked.com") + " already locked",
      "Warning: Error on scanning " + q("/o/x.txt") + failed + "rejected",
      "Warning: Error on scanning " + q("/o/y.txt") + failed + "allowed",
      "Notice: " + q("/q/life.com") + " - infected with Standard-Test-File",
      "Info: " + q("/q/life.com") + ": access rejected, executing action is delayed for 1 minute",
  };
  for (std::string const& line : lines) EXPECT_NE(std::string::npos, daemon.log().find(line + "\n")) << line;
  // Scans at the file checker: the clean file once, the locked one for its first open and the read.
  auto const scans = [&](std::string const& path) {
    std::regex const request("PROXY_SCAN_REQUEST serial=\\d+ path=" + q(path) + "\n");
    return std::distance(std::sregex_iterator(checker.out().begin(), checker.out().end(), request), {});
  };
  EXPECT_EQ(1, scans("/s/clean.txt"));
  EXPECT_EQ(2, scans("/s/locked.com"));
}

}  // namespace
