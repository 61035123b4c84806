// The daemon under load and faults, end to end: the real program with the file-checker stand-in,
// ConfigD played here, and VFS modules of the test's own speaking kson over the real socket.

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <fstream>
#include <functional>

#include <boost/filesystem/operations.hpp>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "kson/transport_stream.h"
#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"
#include "vfs_link/sm_module_msg.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef sm_module_msg_t msg_t;
typedef std::map<std::uint32_t, std::vector<std::uint32_t>> verdicts_t;

std::string read_file(std::string const& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One VFS module of share "public": it keeps every verdict under its serial.
class module_t : private kson::transport_stream_t {
 public:
  explicit module_t(std::string const& socket_path) : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un addr{AF_UNIX, {}};
    socket_path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  }
  ~module_t() override { hang_up(); }
  void hang_up() { ::close(fd), fd = -1; }

  // A hello with `path` as the base directory, or a file event on `path`.
  void send(std::string const& path, std::uint32_t op = 0, std::uint32_t serial = 0) {
    msg_t msg;
    struct stat st {};
    msg.has_dev = msg.has_ino = op != 0 && ::stat(path.c_str(), &st) == 0;
    std::tie(msg.type, msg.tag, op ? msg.path : msg.basedir, msg.dev, msg.ino, msg.op, msg.serial) = std::make_tuple(
        op ? msg_t::TYPE_FILE_EVENT : msg_t::TYPE_HELLO, "public", path, st.st_dev, st.st_ino, op, serial);
    std::vector<char> frame;
    ASSERT_TRUE(serialize(msg, frame) && ::write(fd, frame.data(), frame.size()) == ssize_t(frame.size()));
  }
  // Takes what the daemon sent; false at the end of the stream.
  bool receive() {
    std::vector<char> bytes(65536);
    ssize_t const got = ::read(fd, bytes.data(), bytes.size());
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return got > 0 && process(bytes);
  }

  int fd;
  verdicts_t verdicts;
  static inline std::size_t received = 0;  // verdicts, by all modules

 private:
  void on_message(kson::parser_t& parser) override {
    msg_t msg;
    ASSERT_TRUE(msg.deserialize(parser));
    if (msg.type == msg_t::TYPE_VERDICT) verdicts[msg.serial].push_back(msg.verdict), ++received;
  }
};
typedef std::deque<module_t> modules_t;

// The daemon (under `ulimit -n limit` when given) with share "public" over the sandbox, which
// blocks known viruses and blocks on errors, and the file checker answering at once.
struct rig_t {
  explicit rig_t(std::string const& limit = "")
      : fcheck({"/bin/sh", "-c", "exec \"$0\" --socket \"$1\" > \"$2\"", QN_BIN_DIR "/fcheck-stub", box.file("fc.sock"),
                box.file("fc.out")},
               test_child_t::environment()),
        configd({"/bin/sh", "-c", (limit.empty() ? "" : "ulimit -n " + limit + " && ") + "exec \"$0\"",
                 QN_BIN_DIR "/quarn-smbgardix"},
                "3") {
    for (int i = 0; i < 200 && read_file(box.file("fc.out")).empty(); ++i) ::usleep(100000);
    configd.expect(out_t::GET_CONFIG_REQUEST);
    module_t::received = 0;
    qn::SMBGardixConfig config;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(
        "log_level: LOG_LEVEL_INFO action_delay: 60000 max_cache_size: 1048576 smb_socket_path: '" + sock.substr(1) +
            "' actual_log { type: FILE path: '" + box.file("daemon.log") +
            "' } share { item { tag: 'public' alert_files: true on_known_virus: SMB_BLOCK block_on_error: true } }",
        &config));
    configd.send(configd_peer_t::config_response(1, config));
    for (int i = 0; i < 5 && sent[out_t::MY_INFO_NOTIFICATION] == 0; ++i) serve(configd.receive());
  }

  // Answers the file checker's socket when asked; counts what the daemon sent by tag.
  void serve(out_t const& msg) {
    qn::Configd2SMBGardixMessage answer;
    answer.set_tag(qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE);
    answer.set_uid(::getuid());
    answer.set_socket_path(box.file("fc.sock"));
    ++sent[msg.tag()];
    if (msg.tag() == out_t::GET_FCHECK_REQUEST) configd.send(answer);
  }

  // Hands each module what the daemon sent, and serves ConfigD, until done(); fails on a stall.
  void pump(modules_t& modules, std::function<bool()> const& done) {
    for (int idle = 0; !done() && !::testing::Test::HasFailure();) {
      while (!::testing::Test::HasFailure() && configd.has_data()) serve(configd.receive());
      std::vector<pollfd> p;
      for (module_t const& m : modules) p.push_back({m.fd, POLLIN, 0});
      int const ready = ::poll(p.data(), p.size(), 100);
      EXPECT_LT(idle = ready > 0 ? 0 : idle + 1, 200) << "the daemon stalled";
      for (std::size_t i = 0; i < p.size() && ready > 0; ++i) EXPECT_TRUE(!p[i].revents || modules[i].receive());
    }
  }

  // The daemon ends with `status` and removes its socket; each module then reads to the end.
  void finish(modules_t& modules, int status) {
    EXPECT_EQ(status, configd.wait());
    EXPECT_FALSE(boost::filesystem::exists(sock));
    for (module_t& m : modules)
      while (m.fd >= 0 && m.receive()) continue;
  }

  std::string log() const { return read_file(box.file("daemon.log")); }

  test_sandbox_t box;
  std::string const share = box.path(), sock = box.file("smb.sock");
  test_child_t fcheck;
  configd_peer_t configd;
  std::map<int, std::size_t> sent;
};

TEST(daemon_faults, a_thousand_modules_and_a_burst_of_sighups_get_one_answer_each) {
  rlimit files{};  // a thousand modules, and the daemon's end of each
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &files));
  files.rlim_cur = files.rlim_max;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &files));
  rig_t rig;
  std::string const bad = rig.share + "/bad.com";
  ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", bad}, {}).status);
  for (int i = 0; i < 100; ++i) rig.box.write(std::to_string(i), "clean");
  modules_t modules;
  modules.emplace_back(rig.sock).send(rig.share);
  // SIGHUPs one at a time, the module served meanwhile: one settings request each.
  for (std::uint32_t n = 1; n <= 10; ++n) {
    rig.configd.signal(SIGHUP);
    modules[0].send(rig.share + "/0", n % 2 ? msg_t::OP_OPEN : msg_t::OP_READ, n);
    rig.pump(modules, [&] { return modules[0].verdicts.size() == n && rig.sent[out_t::GET_CONFIG_REQUEST] >= n; });
  }
  // Serial 1 known clean, 2 scanned (now and then cached), 3 on every tenth module infected.
  for (int i = 1; i <= 1000; ++i) {
    modules.emplace_back(rig.sock).send(rig.share);
    modules[i].send(rig.share + "/0", msg_t::OP_OPEN, 1);
    modules[i].send(rig.share + "/" + std::to_string(i % 100), msg_t::OP_READ, 2);
    if (i % 10 == 0) modules[i].send(bad, msg_t::OP_CLOSE, 3);
  }
  rig.pump(modules, [&] { return module_t::received >= 10 + 2000 + 100; });
  rig.configd.signal(SIGTERM);
  rig.finish(modules, 107);
  verdicts_t const clean = {{1, {1}}, {2, {1}}}, infected = {{1, {1}}, {2, {1}}, {3, {2}}};
  for (std::size_t i = 1; i < modules.size(); ++i) ASSERT_EQ(i % 10 ? clean : infected, modules[i].verdicts) << i;
  for (auto const& serial : modules[0].verdicts) EXPECT_EQ(std::vector<std::uint32_t>{1}, serial.second);
  // One settings request for each SIGHUP, and nothing else happened.
  EXPECT_EQ(10u, rig.sent[out_t::GET_CONFIG_REQUEST]);
  EXPECT_TRUE(rig.configd.at_end());
  EXPECT_EQ(1u, rig.sent[out_t::MY_INFO_NOTIFICATION]);
  EXPECT_EQ(2u, rig.sent[out_t::GET_FCHECK_REQUEST]);
}

TEST(daemon_faults, out_of_descriptors_it_serves_the_modules_it_has_and_accepts_again) {
  if (*QN_SANITIZERS) GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own, and this uses them all up";
  rig_t rig("40");
  std::string const file = rig.box.write("a.txt", "clean");
  modules_t modules;
  for (int i = 0; i < 60; ++i) {
    modules.emplace_back(rig.sock).send(rig.share);
    modules.back().send(file, msg_t::OP_OPEN, 1);
    if (i == 0) rig.pump(modules, [] { return module_t::received == 1; });  // a.txt is known clean from here on
  }
  std::string const line = "Error: sm_module_server_t: accept: Too many open files; accepting again in 1 s\n";
  rig.pump(modules, [&] { return rig.log().find(line) != std::string::npos; });
  // Out of descriptors, it answers the modules it has.
  EXPECT_LT(module_t::received, 60u);
  modules[0].send(file, msg_t::OP_READ, 2);
  rig.pump(modules, [&] { return modules[0].verdicts.size() == 2; });
  // Modules that hang up free descriptors; the daemon takes the others after its pause. Then
  // ConfigD goes.
  rig.pump(modules, [&] {
    for (module_t& m : modules)
      if (!m.verdicts.empty()) m.hang_up();
    return module_t::received >= 61;
  });
  rig.configd.close_socket();
  rig.finish(modules, 1);
  for (std::size_t i = 1; i < modules.size(); ++i) EXPECT_EQ((verdicts_t{{1, {1}}}), modules[i].verdicts);
}

}  // namespace
