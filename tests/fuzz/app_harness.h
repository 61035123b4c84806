#pragma once
// A real application object in the fuzzer process, one per input. The harness plays ConfigD on
// a socket pair and the file checker on a socket in a sandbox folder. The loop is only polled:
// no timer that is not yet due runs, nothing sleeps.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cctype>
#include <fstream>

#include <boost/filesystem/operations.hpp>
#include <google/protobuf/text_format.h>

#include "framework/error/cf_protobuf_log.h"
#include "framework/log/cf_file_log.h"
#include "service/sm_app.h"
#include "tests/fuzz/message_check.h"
#include "tests/kson/kson_bytes.h"

// Holds the share folder "share" with "file.txt"; removed at exit. Made once per process, with
// the log sink: the daemon's lines go to /dev/null instead of piling up in the start-up buffer.
inline std::string const& fuzz_box() {
  static std::string const& box = []() -> std::string const& {
    char name[] = "/tmp/qn-fuzz.XXXXXX";
    FUZZ_CHECK(::mkdtemp(name) && boost::filesystem::create_directory(std::string(name) + "/share"));
    std::ofstream(std::string(name) + "/share/file.txt") << "data";
    std::atexit([] { boost::filesystem::remove_all(fuzz_box()); });
    cf_set_log(std::make_shared<cf_file_log_t>(::open("/dev/null", O_WRONLY), true));
    cf_install_protobuf_log_handler();
    return *new std::string(name);
  }();
  return box;
}

// Keeps a path's form (empty, relative, absolute) but not where it points: letters and digits
// only, at most 40 bytes, and an absolute path lands in the sandbox.
inline std::string fuzz_confine(std::string const& path) {
  std::string name;
  for (char c : path.substr(0, 40)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return path.empty() || path[0] != '/' ? name : fuzz_box() + "/" + name.substr(1);
}

// A message from ConfigD, given as text; the uid of GET_FCHECK_RESPONSE is added.
inline std::string fuzz_configd_body(std::string const& text) {
  qn::Configd2SMBGardixMessage message;
  FUZZ_CHECK(google::protobuf::TextFormat::ParseFromString(text + " uid: " + std::to_string(::getuid()), &message));
  return message.SerializeAsString();
}

// Non-blocking; listening on `path`, or connected to it.
inline int fuzz_socket(std::string const& path, bool listen) {
  sockaddr_un address{AF_UNIX, {}};
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  auto const* a = reinterpret_cast<sockaddr const*>(&address);
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  FUZZ_CHECK(listen ? !::bind(fd, a, sizeof address) && !::listen(fd, 64) : !::connect(fd, a, sizeof address));
  return fd;
}

struct fuzz_app_t {
  // Unless `configured` is false: the sandbox as chroot folder and "vfs.sock" as the modules'
  // socket, a cache, alert files, blocking and delayed actions, an entry of its own for share
  // "Share_B"; and whatever the daemon says to ConfigD is answered with `fcheck_answer`, at
  // first the path of a socket in the sandbox whose connections are accepted into `fcheck`.
  explicit fuzz_app_t(bool configured) {
    cf_log_threshold = CF_LOG_DEBUG;
    // A path changed in the clock tick of its scan waits for the clock on a timer, which a poll does not
    // run: the clock stands an hour ahead, so that none waits.
    sm_clock_t::pin_coarse_real(timespec{::time(nullptr) + 3600, 0});
    int pair[2];
    FUZZ_CHECK(!::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) && !::fcntl(pair[0], F_SETFL, O_NONBLOCK));
    fds.push_back(configd = pair[0]);
    app = std::make_unique<sm_app_t>(pair[1]);
    if (!configured) return;
    fcheck_answer = fuzz_configd_body("tag: GET_FCHECK_RESPONSE socket_path: '" + fuzz_box() + "/fc.sock'");
    feed(configd, kson_test::frame(fuzz_configd_body(
                      "tag: GET_CONFIG_RESPONSE config_revision: 1 config { samba_chroot_dir: '" + fuzz_box() +
                      "' log_level: LOG_LEVEL_DEBUG actual_log { type: AUTO } smb_socket_path: 'vfs.sock' "
                      "max_cache_size: 100000 action_delay: 5000 alert_files: true block_on_error: true "
                      "on_known_virus: SMB_QUARANTINE on_suspicious: SMB_BLOCK on_adware: SMB_REPORT "
                      "excluded_path { item: 'tmp' } share { item { tag: 'Share_B' block_on_error: false "
                      "on_known_virus: SMB_CURE on_incurable: SMB_DELETE } } }")));
  }

  ~fuzz_app_t() {
    app.reset();
    for (int fd : fds) ::close(fd);
  }

  // Writes all of `bytes` while the loop runs; stops early once the daemon has closed its end.
  void feed(int fd, std::string const& bytes) {
    for (std::size_t done = 0, round = 0; done < bytes.size() && round < 10000; ++round) {
      ssize_t const put = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (put < 0 && errno != EAGAIN) return;
      done += put > 0 ? put : 0;
      pump();
    }
  }

  // Runs whatever is ready until nothing is, playing ConfigD's and the file checker's part. An
  // answer that finds no request waiting is dropped by the daemon.
  void pump() {
    static int const listener = fuzz_socket(fuzz_box() + "/fc.sock", true);
    for (int round = 0, ran = 1; ran && round < 1000; ++round) {
      app->io_context.restart();
      ran = app->io_context.poll();
      char chunk[4096];
      if (::recv(configd, chunk, sizeof chunk, 0) > 0 && !fcheck_answer.empty())
        ran += ::send(configd, kson_test::frame(fcheck_answer).data(), 4 + fcheck_answer.size(), MSG_NOSIGNAL) > 0;
      for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++ran)
        fds.push_back(fd), fcheck.push_back(fd);
    }
  }

  // Adds a connection to the modules' socket, closed with the rest.
  int module() { return fds.emplace_back(fuzz_socket(fuzz_box() + "/vfs.sock", false)); }

  std::unique_ptr<sm_app_t> app;
  int configd;
  std::string fcheck_answer;
  std::vector<int> fcheck;  // the file checker's ends, in the order the daemon connected
  std::vector<int> fds;     // the harness's own, closed after the daemon
};
