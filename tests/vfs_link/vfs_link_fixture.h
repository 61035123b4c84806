#pragma once

// The application object of app_fixture_t, whose VFS modules the test plays over real connections
// to the daemon's socket in the sandbox.

#include <sys/socket.h>

#include <cerrno>
#include <map>

#include <boost/asio/local/stream_protocol.hpp>

#include "kson/transport_stream.h"
#include "tests/support/app_fixture.h"
#include "vfs_link/sm_module_msg.h"

inline std::string frame_of(sm_module_msg_t const& msg) {
  std::vector<char> out;
  EXPECT_TRUE(kson::transport_stream_t::serialize(msg, out));
  return std::string(out.begin(), out.end());
}

class vfs_link_test : public app_fixture_t {
 protected:
  typedef sm_module_msg_t msg_t;

  void known_clean(std::uint64_t id) {
    std::shared_ptr<qn::RemoteUser> none;
    app->file_cache->is_clean(id, id, none);
    app->file_cache->store_check_result(id, id, true, sm_clock_t::steady::now());
  }

  int connect() {
    boost::asio::local::stream_protocol::socket socket(app->io_context);
    return socket.connect({root + "/vfs.sock"}), socket.release();
  }

  // The loop runs while the socket is full, so that the daemon drains it; the module takes its
  // replies meanwhile, as the daemon reads no further while they are unread.
  void send(int fd, std::string const& bytes) {
    std::size_t done = 0;
    pump([&] {
      drain(fd);
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

  // The next frame the daemon sends; its frames are shorter than 64 KiB.
  std::string next(int fd) {
    std::string& in = inbox[fd];
    auto size = [&] { return in.size() < 4 ? SIZE_MAX : 4 + (in[0] & 0xff) + (in[1] & 0xff) * 256u; };
    if (!pump([&] { return drain(fd), in.size() >= size(); })) return "nothing";
    std::string const out = in.substr(0, size());
    return in.erase(0, size()), out;
  }

  static std::string hello(std::string const& basedir) {
    msg_t msg;
    msg.type = msg_t::TYPE_HELLO, msg.tag = "Pub_Lic", msg.basedir = basedir;
    return frame_of(msg);
  }

  // A frame; dev and ino are both `id`, when present. Events come from domain "corp".
  static std::string event(std::uint32_t op, std::uint32_t serial, std::string const& path, std::uint64_t id = 1,
                           bool ids = true, char const* user = "", char const* ip = "") {
    msg_t msg;
    msg.type = msg_t::TYPE_FILE_EVENT, msg.op = op, msg.serial = serial, msg.path = path, msg.user = user, msg.ip = ip;
    msg.domain = "corp", msg.dev = msg.ino = id, msg.has_dev = msg.has_ino = ids;
    return frame_of(msg);
  }

  std::map<int, std::string> inbox;  // by module connection; the sockets die with the daemon
};
