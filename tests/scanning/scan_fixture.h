#pragma once

// A real application object in the test process, whose ConfigD and file checker the test plays, its
// loop run by hand; the share "Do_cs" has proxy options of its own.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "service/sm_app.h"
#include "tests/support/configd_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox.h"

// The file checker's end: listens and serves one connection at a time. Reads wait 5 s at most.
struct fc_peer_t {
  explicit fc_peer_t(std::string const& path) {
    sockaddr_un address{AF_UNIX, {}};
    timeval limit{5, 0};  // accepted connections inherit it
    std::memcpy(address.sun_path, path.data(), path.size());
    EXPECT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) + ::listen(listener, 4) +
                     ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit));
  }
  ~fc_peer_t() { ::close(listener), ::close(conn); }

  static bool ready(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }
  bool accept() { return ::close(conn), (conn = ::accept(listener, nullptr, nullptr)) >= 0; }
  // A whole frame, header included; empty at the end of the stream.
  std::string frame() {
    std::string out(4, '\0');
    if (::recv(conn, &out[0], 4, MSG_WAITALL) != 4) return "";
    out.resize(4 + (std::uint8_t(out[0]) | std::uint8_t(out[1]) << 8 | std::uint8_t(out[2]) << 16));
    return out.resize(4 + std::max(0L, ::recv(conn, &out[4], out.size() - 4, MSG_WAITALL))), out;
  }
  // A message in text form, or after "!" a body as it is; empty: hang up.
  void send(std::string const& text) {
    fc::ServerMessage message;
    bool const raw = text.empty() || text[0] == '!';
    EXPECT_TRUE(raw || google::protobuf::TextFormat::ParseFromString(text, &message)) << text;
    std::string const body = std::string{char(raw ? text.size() - 1 : message.ByteSizeLong()), 0, 0, 0} +
                             (raw ? text.substr(!text.empty()) : message.SerializeAsString());
    EXPECT_TRUE(text.empty() ? ::close(conn) == 0 : ::write(conn, body.data(), body.size()) == ssize_t(body.size()));
    conn = text.empty() ? -1 : conn;
  }

  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int conn = -1;
};

class scan_test : public ::testing::Test {
 protected:
  void SetUp() override { sm_clock_t::advance(std::chrono::nanoseconds(0)), configure("1500", false); }
  void TearDown() override { scan.reset(), app.reset(), sm_clock_t::reset_for_tests(); }

  void pump() {  // a completion can take two rounds to run
    for (int quiet = 0; quiet < 2;) quiet = (app->io_context.restart(), app->io_context.poll()) ? 0 : quiet + 1;
  }
  // A link of the test's own, owned by the scanner.
  std::shared_ptr<sm_fcheck_connector_t> connect() {
    std::shared_ptr<sm_fcheck_connector_t> link = sm_fcheck_connector_t::create(app->io_context, dir.file("fc.sock"));
    link->set_delegate(scan.get());
    EXPECT_TRUE(peer.accept());
    return link;
  }
  void configure(std::string const& scan_timeout, bool suspended) {
    qn::SMBGardixConfig config;
    google::protobuf::TextFormat::ParseFromString(
        "log_level: LOG_LEVEL_DEBUG actual_log { type: AUTO } share { item "
        "{ tag: 'Do_cs' scan_timeout: " +
            scan_timeout + " " + seven + " } } scan_timeout: 99",
        &config);
    app->settings->apply(1, config, suspended);
  }
  // What happened since the last call, once the loop has run: log lines but the daemon's Debug lines, what the
  // callbacks got, requests to ConfigD, a connection accepted, and the file checker's messages in text form
  // (their pid checked and left out) up to the end of the stream.
  std::string transcript() {
    std::string out;
    pump();
    for (std::string const& line : log.lines()) out += line.compare(0, 10, "Debug: sm_") ? line + " | " : "";
    for (std::string const& callback : seen) out += callback + " | ";
    log.clear(), seen.clear();
    while (configd.has_data())
      out += "ConfigD " + qn::SMBGardix2ConfigdMessage::MessageTag_Name(configd.receive().tag()) + " | ";
    if (fc_peer_t::ready(peer.listener)) out += peer.accept() ? "accepted | " : "not accepted | ";
    while (fc_peer_t::ready(peer.conn)) {
      fc::ClientMessage message;
      std::string const frame = peer.frame();
      if (frame.empty()) return peer.send(""), out + "closed";
      EXPECT_TRUE(message.ParseFromString(frame.substr(4)));
      EXPECT_EQ(message.has_pid() ? static_cast<std::uint32_t>(::getpid()) : 0u, message.pid());
      message.clear_pid(), out += message.ShortDebugString() + " | ";
    }
    return out;
  }

  std::string const seven =
      "heuristic_analysis: false packer_max_level: 3 archive_max_level: 4 mail_max_level: 5 "
      "container_max_level: 6 max_compression_ratio: 700";
  test_log_t log;
  test_sandbox_t dir;
  configd_peer_t configd;
  std::unique_ptr<sm_app_t> app{new sm_app_t(configd.take_other_end())};
  fc_peer_t peer{dir.file("fc.sock")};
  std::shared_ptr<sm_proxy_scan_t> scan = app->get_proxy_scan("docs");
  std::vector<std::string> seen;
};
