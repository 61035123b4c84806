#pragma once

// The daemon end to end: the real program under a ConfigD played by the test, the real
// file-checker stand-in with its threat database, and VFS modules of the test's own speaking kson
// over the daemon's socket.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <sstream>

#include <boost/filesystem/operations.hpp>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "framework/util/cf_io.h"
#include "kson/transport_stream.h"
#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"
#include "vfs_link/sm_module_msg.h"

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef sm_module_msg_t msg_t;
typedef std::map<std::uint32_t, std::vector<std::uint32_t>> verdicts_t;

// A VFS module of share `tag` on its own connection to the daemon's socket under `root`: it keeps
// every verdict under its serial, and counts the share settings it got.
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
    put(file_event(op, path, serial, writer));
  }
  msg_t file_event(std::uint32_t op, std::string const& path, std::uint32_t serial, std::string const& writer = "") {
    struct stat st {};
    ::stat((root + path).c_str(), &st);
    msg_t m;
    m.type = msg_t::TYPE_FILE_EVENT, m.op = op, m.path = path, m.serial = serial;
    m.dev = st.st_dev, m.ino = st.st_ino, m.has_dev = m.has_ino = true;
    std::istringstream(writer) >> m.user >> m.domain >> m.ip;
    return m;
  }
  // Such events with the serials first to last, as one stream of frames.
  std::vector<char> events(std::uint32_t op, std::string const& path, std::uint32_t first, std::uint32_t last) {
    std::vector<char> stream;
    for (msg_t m = file_event(op, path, first); m.serial <= last; ++m.serial) EXPECT_TRUE(serialize(m, stream));
    return stream;
  }
  // Takes what the daemon sent; false at the end of the stream.
  bool receive() {
    char bytes[65536];
    ssize_t const got = ::read(fd, bytes, sizeof bytes);
    return got > 0 && process(bytes, got);
  }

  void put(msg_t const& m) {
    std::vector<char> frame;
    ASSERT_TRUE(serialize(m, frame) && ::write(fd, frame.data(), frame.size()) == ssize_t(frame.size()));
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  verdicts_t verdicts;
  std::uint32_t serial = 0;  // the last one asked
  std::size_t settings = 0;
  static inline std::size_t received = 0;  // verdicts, by all modules
  static inline std::size_t settled = 0;   // settings frames, by all modules

 private:
  void on_message(kson::parser_t& parser) override {
    msg_t m;
    ASSERT_TRUE(m.deserialize(parser));
    if (m.type == msg_t::TYPE_VERDICT) verdicts[m.serial].push_back(m.verdict), ++received;
    if (m.type == msg_t::TYPE_SHARE_SETTINGS) ++settings, ++settled;
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
    EXPECT_TRUE(boost::filesystem::exists(fc)) << "the file checker did not listen";
    configd.expect(out_t::GET_CONFIG_REQUEST);
    module_t::received = module_t::settled = 0;
    // A socket file left behind by a crashed run: the daemon replaces it.
    int const stale = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    (root + "/vfs.sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(0, ::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr) + ::close(stale));
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(
        "samba_chroot_dir: '" + root + "' smb_socket_path: 'vfs.sock' actual_log { type: FILE path: '" +
            box.file("daemon.log") + "' } " + settings,
        &config));
    configd.send(configd_peer_t::config_response(1, config));
    for (int i = 0; i < 5 && sent[out_t::MY_INFO_NOTIFICATION] == 0; ++i) serve(configd.receive());
  }

  // Counts what the daemon sent by tag, and names `route` as the file checker's socket when asked.
  void serve(out_t const& msg) {
    if (++sent[msg.tag()], msg.tag() == out_t::GET_FCHECK_REQUEST) configd.send(configd_peer_t::fcheck_response(route));
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
  // What the file checker printed; pumps until it has printed `text`.
  std::string fc_out() const { return cf_read_file(box.file("fc.out")); }
  void await_fc(std::string const& text) {
    pump([&] { return fc_out().find(text) != std::string::npos; });
  }
  // How many times `text` is in what the file checker printed.
  long fc_count(std::string const& text) const {
    std::string const out = fc_out();
    long found = 0;
    for (std::size_t at = 0; (at = out.find(text, at)) != std::string::npos; ++at) ++found;
    return found;
  }

  test_sandbox_t box;
  std::string const root = box.path(), fc = box.file("fc.sock");
  std::string route = fc;
  test_child_t fcheck;
  configd_peer_t configd;
  std::map<int, std::size_t> sent;
  modules_t modules;
  qn::SMBGardixConfig config;  // the settings sent at the start
};
