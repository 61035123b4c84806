#pragma once

// The application object of app_fixture_t, whose file checker the test plays; the share "Do_cs"
// has proxy options of its own.

#include <sys/socket.h>

#include <boost/asio/local/stream_protocol.hpp>
#include <google/protobuf/text_format.h>

#include "tests/support/app_fixture.h"

// The file checker's end: listens, and serves one connection at a time.
struct fc_peer_t {
  fc_peer_t(boost::asio::io_context& io, std::string const& path) {
    boost::asio::local::stream_protocol::acceptor acceptor(io, {path});
    acceptor.non_blocking(true), listener = acceptor.release();
  }
  ~fc_peer_t() { ::close(listener), ::close(conn); }

  // A connection waiting replaces the one there was.
  bool accept() {
    int const fd = ::accept(listener, nullptr, nullptr);
    return fd >= 0 && (::close(conn), conn = fd) >= 0;
  }
  // The next whole frame that has come, header included; "" when none has, "end" at the end of the stream.
  std::string frame() {
    std::string out(4, '\0');
    ssize_t const got = ::recv(conn, &out[0], 4, MSG_DONTWAIT | MSG_WAITALL);
    if (got <= 0) return got ? "" : "end";
    out.resize(4 + (std::uint8_t(out[0]) | std::uint8_t(out[1]) << 8 | std::uint8_t(out[2]) << 16));
    return out.resize(4 + std::max(0L, ::recv(conn, &out[4], out.size() - 4, MSG_WAITALL))), out;
  }
  // A message in text form; empty: hang up.
  void send(std::string const& text) {
    fc::ServerMessage message;
    EXPECT_TRUE(text.empty() || google::protobuf::TextFormat::ParseFromString(text, &message)) << text;
    std::string const frame = configd_peer_t::frame(message.SerializePartialAsString());
    EXPECT_TRUE(text.empty() ? !::close(conn) : ::write(conn, frame.data(), frame.size()) == ssize_t(frame.size()));
    conn = text.empty() ? -1 : conn;
  }

  int listener, conn = -1;
};

// The share's settings are applied directly, under revision 0: no reconfiguration runs, so that ConfigD and the
// file checker hear only from the proxy scanner and the test's links.
class scan_test : public app_fixture_t {
 protected:
  scan_test() { apply("1500", false); }
  // Scans still waiting are failed when their scanner goes, and their callbacks note into `seen`.
  ~scan_test() override { scan.reset(), app.reset(); }

  void apply(std::string const& scan_timeout, bool suspended) {
    qn::SMBGardixConfig config;
    std::string const text = "log_level:LOG_LEVEL_DEBUG actual_log{type:AUTO} scan_timeout:99 share{item{tag:'Do_cs'";
    google::protobuf::TextFormat::ParseFromString(text + " scan_timeout:" + scan_timeout + seven + "}}", &config);
    app->settings->apply(0, config, suspended);
  }
  // ConfigD's answer to a request for the file checker's socket.
  void name_fcheck() { configd.send(configd_peer_t::fcheck_response(box.file("fc.sock"))); }
  // What happened since the last call, once the loop has run: log lines but the daemon's Debug lines, what the
  // callbacks got, requests to ConfigD, a connection accepted, and the file checker's messages in text form
  // (their pid checked and left out) up to the end of the stream.
  std::string transcript() {
    std::string out;
    poll();
    for (std::string const& line : log.lines()) out += line.compare(0, 10, "Debug: sm_") ? line + " | " : "";
    for (std::string const& callback : seen) out += callback + " | ";
    log.clear(), seen.clear();
    while (configd.has_data())
      out += "ConfigD " + qn::SMBGardix2ConfigdMessage::MessageTag_Name(configd.receive().tag()) + " | ";
    if (peer.accept()) out += "accepted | ";
    for (std::string frame; !(frame = peer.frame()).empty();) {
      if (frame == "end") return peer.send(""), out + "closed";
      fc::ClientMessage message;
      EXPECT_TRUE(message.ParseFromString(frame.substr(4)));
      EXPECT_EQ(message.has_pid() ? static_cast<std::uint32_t>(::getpid()) : 0u, message.pid());
      message.clear_pid(), out += message.ShortDebugString() + " | ";
    }
    return out;
  }

  std::string const seven =
      " heuristic_analysis: false packer_max_level: 3 archive_max_level: 4 mail_max_level: 5 "
      "container_max_level: 6 max_compression_ratio: 700";
  fc_peer_t peer{app->io_context, box.file("fc.sock")};
  std::shared_ptr<sm_proxy_scan_t> scan = app->get_proxy_scan("docs");
  std::vector<std::string> seen;
};
