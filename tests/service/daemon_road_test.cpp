// The daemon end to end, on its road and under load and faults: the real program under a
// ConfigD played here, the real file-checker stand-in with its threat database, and VFS modules
// of the test's own speaking kson over the daemon's socket.

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <functional>
#include <regex>
#include <sstream>

#include <boost/filesystem/operations.hpp>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "framework/error/cf_proto_error_impl.h"
#include "framework/util/cf_io.h"
#include "kson/transport_stream.h"
#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"
#include "vfs_link/sm_module_msg.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef sm_module_msg_t msg_t;
typedef std::map<std::uint32_t, std::vector<std::uint32_t>> verdicts_t;

// A VFS module of share `tag` on its own connection to the daemon's socket under `root`: it keeps
// every verdict under its serial.
class module_t : private kson::transport_stream_t {
 public:
  module_t(std::string const& root, std::string const& tag) : root(root) {
    sockaddr_un addr{AF_UNIX, {}};
    (root + "/vfs.sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    msg_t hello;
    hello.type = msg_t::TYPE_HELLO, hello.tag = tag, hello.basedir = "/" + tag;
    put(hello);
  }
  ~module_t() override { hang_up(); }
  void hang_up() { ::close(fd), fd = -1; }

  // An event on `path` under the root, as Samba sees it, with the file's device and inode; a
  // write has no serial but a writer "USER DOMAIN IP".
  void event(std::uint32_t op, std::string const& path, std::uint32_t serial, std::string const& writer = "") {
    struct stat st {};
    ::stat((root + path).c_str(), &st);
    msg_t m;
    m.type = msg_t::TYPE_FILE_EVENT, m.op = op, m.path = path, m.serial = serial;
    m.dev = st.st_dev, m.ino = st.st_ino, m.has_dev = m.has_ino = true;
    std::istringstream(writer) >> m.user >> m.domain >> m.ip;
    put(m);
  }
  // Takes what the daemon sent; false at the end of the stream.
  bool receive() {
    char bytes[65536];
    ssize_t const got = ::read(fd, bytes, sizeof bytes);
    return got > 0 && process(bytes, got);
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  verdicts_t verdicts;
  std::uint32_t serial = 0;                // the last one asked
  static inline std::size_t received = 0;  // verdicts, by all modules

 private:
  void put(msg_t const& m) {
    std::vector<char> frame;
    ASSERT_TRUE(serialize(m, frame) && ::write(fd, frame.data(), frame.size()) == ssize_t(frame.size()));
  }
  void on_message(kson::parser_t& parser) override {
    msg_t m;
    ASSERT_TRUE(m.deserialize(parser));
    if (m.type == msg_t::TYPE_VERDICT) verdicts[m.serial].push_back(m.verdict), ++received;
  }

  std::string root;
};
typedef std::deque<module_t> modules_t;

// The daemon (under `ulimit -n limit` when given) with `settings`, the shares rooted in the
// sandbox, and the file-checker stand-in with `stub` options at fc.sock, its output in fc.out.
struct rig_t {
  explicit rig_t(std::string const& settings, std::string const& stub = "", std::string const& limit = "")
      : fcheck({"/bin/sh", "-c", "exec \"$0\" --socket \"$1\" " + stub + " > \"$2\"", QN_BIN_DIR "/fcheck-stub", fc,
                box.file("fc.out")},
               test_child_t::environment()),
        configd({"/bin/sh", "-c", (limit.empty() ? "" : "ulimit -n " + limit + " && ") + "exec \"$0\"",
                 QN_BIN_DIR "/quarn-smbgardix"},
                "3") {
    for (int i = 0; i < 200 && !boost::filesystem::exists(fc); ++i) ::usleep(100000);
    configd.expect(out_t::GET_CONFIG_REQUEST);
    module_t::received = 0;
    qn::SMBGardixConfig config;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(
        "samba_chroot_dir: '" + root + "' smb_socket_path: 'vfs.sock' actual_log { type: FILE path: '" +
            box.file("daemon.log") + "' } " + settings,
        &config));
    configd.send(configd_peer_t::config_response(1, config));
    for (int i = 0; i < 5 && sent[out_t::MY_INFO_NOTIFICATION] == 0; ++i) serve(configd.receive());
  }

  // Counts what the daemon sent by tag, and names `route` as the file checker's socket when asked.
  void serve(out_t const& msg) {
    qn::Configd2SMBGardixMessage answer;
    answer.set_tag(qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE);
    answer.set_uid(::getuid());
    answer.set_socket_path(route);
    if (++sent[msg.tag()], msg.tag() == out_t::GET_FCHECK_REQUEST) configd.send(answer);
  }

  // Hands each module what the daemon sent, and serves ConfigD, until done(); fails after 20 s
  // without a word from the daemon.
  void pump(std::function<bool()> const& done) {
    for (int idle = 0; !done() && !::testing::Test::HasFailure();) {
      while (!::testing::Test::HasFailure() && configd.has_data()) serve(configd.receive());
      std::vector<pollfd> p;
      for (module_t const& m : modules) p.push_back({m.fd, POLLIN, 0});
      int const ready = ::poll(p.data(), p.size(), 100);
      EXPECT_LT(idle = ready > 0 ? 0 : idle + 1, 200) << "the daemon stalled";
      for (std::size_t i = 0; i < p.size() && ready > 0; ++i) EXPECT_TRUE(!p[i].revents || modules[i].receive());
    }
  }

  module_t& add(std::string const& tag) { return modules.emplace_back(root, tag); }
  // The verdict for an event with the module's next serial.
  std::uint32_t ask(module_t& m, std::uint32_t op, std::string const& path) {
    m.event(op, path, ++m.serial);
    pump([&] { return m.verdicts.count(m.serial); });
    std::vector<std::uint32_t> const& got = m.verdicts[m.serial];
    return got.empty() ? 0 : got.back();
  }

  // The daemon ends with `status` and removes its socket; each module then reads to the end.
  void finish(int status) {
    EXPECT_EQ(status, configd.wait());
    EXPECT_FALSE(boost::filesystem::exists(root + "/vfs.sock"));
    for (module_t& m : modules)
      while (m.fd >= 0 && m.receive()) continue;
  }

  std::string log() const { return cf_read_file(box.file("daemon.log")); }

  test_sandbox_t box;
  std::string const root = box.path(), fc = box.file("fc.sock");
  std::string route = fc;
  test_child_t fcheck;
  configd_peer_t configd;
  std::map<int, std::size_t> sent;
  modules_t modules;
};

TEST(daemon_road, verdicts_writers_locks_scan_failures_and_the_whole_life_of_a_detection) {
  // Detections are recorded an hour in the past, so that their delayed actions are due at once.
  rig_t rig(
      "log_level: LOG_LEVEL_DEBUG max_cache_size: 65536 action_delay: 60000 share { item { tag: 'Public_Docs' "
      "alert_files: true on_known_virus: SMB_BLOCK } item { tag: 'quar' alert_files: true on_known_virus: "
      "SMB_QUARANTINE } item { tag: 'strict' block_on_error: true } item { tag: 'lax' block_on_error: false } }",
      "--backdate 3600");
  std::string const root = rig.root, stub = QN_BIN_DIR "/fcheck-stub", failing = rig.box.file("failing/fc.sock");
  for (char const* dir : {"/s", "/q", "/o", "/failing"}) ::mkdir((root + dir).c_str(), 0700);
  rig.box.write("s/clean.txt", "clean"), rig.box.write("o/x.txt", "x"), rig.box.write("o/y.txt", "y");
  for (char const* file : {"s/locked.com", "q/life.com"})
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
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_OPEN, "/s/locked.com"));
  EXPECT_EQ(2u, rig.ask(m[1], msg_t::OP_OPEN, "/q/life.com"));
  EXPECT_EQ(0, ::access(alert.c_str(), F_OK));
  rig.route = failing;
  EXPECT_EQ(2u, rig.ask(m[2], msg_t::OP_READ, "/o/x.txt"));
  EXPECT_EQ(1u, rig.ask(m[3], msg_t::OP_READ, "/o/y.txt"));
  // The detection is written with its writer, share tag and lock; a locked file is not scanned on open.
  rig.pump([&] {
    return sql("SELECT tag, locked, remote_user, remote_domain, remote_ip FROM history JOIN threat USING "
               "(threat_id) WHERE threat_id = 1") == "publicdocs|1|bob|CORP|10.1.2.3\n";
  });
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_OPEN, "/s/locked.com"));
  EXPECT_EQ(2u, rig.ask(m[0], msg_t::OP_READ, "/s/locked.com"));
  std::string const blocked = cf_read_file(root + "/s/locked.com.quarn.alert.txt");
  EXPECT_TRUE(std::regex_match(
      blocked, std::regex("Please note that your file \"locked\\.com\" has been blocked at \\w{3} \\w{3} [ \\d]\\d "
                          "\\d\\d:\\d\\d:\\d\\d \\d{4} because it contains the following threat: Standard-Test-File "
                          "\\(known virus\\)!\r\n\r\nYou can delete this file\\.\r\nIt is strongly recommended to do "
                          "the anti-virus scan of your PC!\r\n")))
      << blocked;

  // The other detection, notified, is acted on once due: quarantined, neutralized, its alert file removed.
  rig.pump([&] { return ::access(alert.c_str(), F_OK) != 0; });
  EXPECT_EQ("1|0\n3|1\n", sql("SELECT event, neutralized FROM history WHERE threat_id = 2 ORDER BY history_id"));
  EXPECT_EQ(0, ::access((root + "/quarantine/2-life.com").c_str(), F_OK));

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
        "Info: " + life + ": access rejected, executing action is delayed for 1 minute"})
    EXPECT_NE(std::string::npos, rig.log().find(line + "\n")) << line;
  // Scans at the file checker: the clean file once, the locked one for its first open and the read.
  std::string const scans = cf_read_file(rig.box.file("fc.out"));
  for (auto const& [path, count] : std::map<std::string, int>{{"/s/clean.txt", 1}, {"/s/locked.com", 2}}) {
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
  // Serial 1 known clean, 2 scanned (now and then cached), 3 on every tenth module infected.
  for (int i = 1; i <= 1000; ++i) {
    module_t& m = rig.add("public");
    m.event(msg_t::OP_OPEN, "/0", 1);
    m.event(msg_t::OP_READ, "/" + std::to_string(i % 100), 2);
    if (i % 10 == 0) m.event(msg_t::OP_CLOSE, "/bad.com", 3);
  }
  rig.pump([&] { return module_t::received >= 10 + 2000 + 100; });
  rig.configd.signal(SIGTERM);
  rig.finish(107);
  verdicts_t const clean = {{1, {1}}, {2, {1}}}, infected = {{1, {1}}, {2, {1}}, {3, {2}}};
  for (std::size_t i = 1; i <= 1000; ++i) ASSERT_EQ(i % 10 ? clean : infected, rig.modules[i].verdicts) << i;
  for (auto const& serial : first.verdicts) EXPECT_EQ(std::vector<std::uint32_t>{1}, serial.second);
  // One settings request for each SIGHUP, and nothing else happened.
  EXPECT_EQ(10u, rig.sent[out_t::GET_CONFIG_REQUEST]);
  EXPECT_TRUE(rig.configd.at_end());
  EXPECT_EQ(1u, rig.sent[out_t::MY_INFO_NOTIFICATION]);
  EXPECT_EQ(2u, rig.sent[out_t::GET_FCHECK_REQUEST]);
}

TEST(daemon_faults, out_of_descriptors_it_serves_the_modules_it_has_and_accepts_again) {
  if (*QN_SANITIZERS) GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own, and this uses them all up";
  rig_t rig(public_share, "", "40");
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
  for (std::size_t i = 1; i < 60; ++i) EXPECT_EQ((verdicts_t{{1, {1}}}), rig.modules[i].verdicts);
}

}  // namespace
