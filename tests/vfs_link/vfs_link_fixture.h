#pragma once

// A real application object in the test process: the test plays ConfigD on a socket pair and
// the VFS modules over real connections to the daemon's socket in a sandbox. The loop is driven
// by hand; clocks are moved, never waited for.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "kson/parser.h"
#include "kson/transport_stream.h"
#include "service/sm_app.h"
#include "tests/support/configd_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox.h"
#include "vfs_link/sm_module_msg.h"

using namespace std::chrono_literals;

class vfs_link_test : public ::testing::Test {
 protected:
  typedef sm_module_msg_t msg_t;

  void SetUp() override {
    sm_clock_t::advance(0ns);
    google::protobuf::TextFormat::ParseFromString(
        "log_level: LOG_LEVEL_DEBUG actual_log { type: AUTO } smb_socket_path: 'vfs.sock' max_cache_size: 1000 "
        "block_on_error: true excluded_path { item: 'tmp' } included_path { item: 'docs' }",
        &config);
    config.set_samba_chroot_dir(box.path());
  }

  void TearDown() override { sm_clock_t::reset_for_tests(); }

  // Runs the loop until done() holds; the test fails after 20 s.
  bool pump(std::function<bool()> const& done) {
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
      app->io_context.restart();
      app->io_context.run_for(1ms);
      if (done()) return true;
    }
    ADD_FAILURE() << "stalled; the log:\n" << log.text();
    return false;
  }

  void configure(bool suspended = false) {
    configd.send(configd_peer_t::config_response(++revision, config, suspended));
    pump([&] { return app->settings->config_revision() == revision; });
  }

  void known_clean(std::uint64_t id) {
    std::shared_ptr<qn::RemoteUser> none;
    app->file_cache->is_clean(id, id, none);
    app->file_cache->store_check_result(id, id, true, sm_clock_t::steady::now());
  }

  int connect() {
    sockaddr_un addr{AF_UNIX, {}};
    std::strcpy(addr.sun_path, box.file("vfs.sock").c_str());
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) << std::strerror(errno);
    return fd;
  }

  // The loop runs while the socket is full, so that the daemon drains it.
  void send(int fd, std::string const& bytes) {
    std::size_t done = 0;
    pump([&] {
      ssize_t const put = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
      done += put > 0 ? static_cast<std::size_t>(put) : 0;
      return done == bytes.size() || (put < 0 && errno != EAGAIN);
    });
  }

  // Takes in what the daemon has sent; false once it has closed the connection.
  bool drain(int fd) {
    char chunk[65536];
    ssize_t got;
    while ((got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) inbox[fd].append(chunk, got);
    return got < 0 && errno == EAGAIN;
  }

  // The next message as "type:serial=verdict", then " -path" for each excluded and " +path" for
  // each included path.
  std::string next(int fd) {
    std::string& in = inbox[fd];
    // The daemon's frames are shorter than 64 KiB.
    auto size = [&] { return in.size() < 4 ? SIZE_MAX : 4 + (in[0] & 0xff) + (in[1] & 0xff) * 256u; };
    if (!pump([&] { return drain(fd), in.size() >= size(); })) return "nothing";
    msg_t msg;
    kson::parser_t parser(in.data() + 4, size() - 4);
    EXPECT_TRUE(msg.deserialize(parser));
    in.erase(0, size());
    std::string text = std::to_string(msg.type) + ":" + std::to_string(msg.serial) + "=" + std::to_string(msg.verdict);
    for (std::string const& path : msg.excluded_paths) text += " -" + path;
    for (std::string const& path : msg.included_paths) text += " +" + path;
    return text;
  }

  static std::string frame(msg_t const& msg) {
    std::vector<char> out;
    EXPECT_TRUE(kson::transport_stream_t::serialize(msg, out));
    return std::string(out.begin(), out.end());
  }

  static std::string hello(std::string const& tag, std::string const& basedir) {
    msg_t msg;
    msg.type = msg_t::TYPE_HELLO, msg.tag = tag, msg.basedir = basedir;
    return frame(msg);
  }

  // dev and ino are both `id`, when present.
  static msg_t event(std::uint32_t op, std::uint32_t serial, std::string const& path, std::uint64_t id = 1,
                     bool ids = true) {
    msg_t msg;
    msg.type = msg_t::TYPE_FILE_EVENT, msg.op = op, msg.serial = serial, msg.path = path;
    msg.dev = msg.ino = id, msg.has_dev = msg.has_ino = ids;
    return msg;
  }

  test_log_t log;
  test_sandbox_t box;
  configd_peer_t configd;
  std::unique_ptr<sm_app_t> app = std::make_unique<sm_app_t>(configd.take_other_end());
  qn::SMBGardixConfig config;        // AUTO log: the capture stays
  std::map<int, std::string> inbox;  // by module connection; the sockets die with the daemon
  std::uint32_t revision = 0;
};
