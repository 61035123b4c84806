#pragma once

// The application fixture over a real threat database file in the sandbox, with the test playing
// the file checker on a listening socket of its own.

#include <boost/algorithm/string/join.hpp>

#include <deque>

#include "tests/support/app_fixture.h"
#include "tests/support/threat_db_fixture.h"

typedef boost::asio::local::stream_protocol::socket fc_socket_t;
typedef fc::ServerMessage server_t;

class threats_app_test : public app_fixture_t {
 protected:
  threats_app_test() { root = db.sandbox().string(), listener.non_blocking(true); }
  ~threats_app_test() override { app.reset(); }  // before the database goes

  // Whether ConfigD is asked for the file checker's socket, which it then names; state reports
  // are skipped.
  bool asks_for_socket(std::string const& answer) {
    while (pump([&] { return configd.has_data(); }))
      if (configd.receive().tag() == qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST)
        return configd.send(configd_peer_t::fcheck_response(answer)), true;
    return false;
  }

  // The file checker's socket takes the connection that ConfigD's answer leads to.
  fc_socket_t& accept_fc() {
    EXPECT_TRUE(asks_for_socket(listener.local_endpoint().path()));
    boost::system::error_code ec;
    conns.emplace_back(io);
    pump([&] { return !listener.accept(conns.back(), ec); });
    return conns.back();
  }

  void send(fc_socket_t& to, server_t::ServerMessageTag tag, std::function<void(server_t&)> const& fill = {}) {
    server_t message;
    message.set_tag(tag);
    if (fill) fill(message);
    boost::asio::write(to, boost::asio::buffer(configd_peer_t::frame(message.SerializeAsString())));
  }

  // One message as its tag and its threat or history id. A sync is answered with the history id
  // that is minus the provisional threat id, or refused.
  std::string receive(fc_socket_t& from) {
    unsigned char h[4];
    boost::asio::read(from, boost::asio::buffer(h));
    std::string body(h[0] | h[1] << 8 | h[2] << 16 | h[3] << 24, '\0');
    boost::asio::read(from, boost::asio::buffer(&body[0], body.size()));
    fc::ClientMessage m;
    EXPECT_TRUE(m.ParseFromString(body));
    auto const answer = [&](server_t& r) {
      if (r.set_serial(m.serial()), r.set_history_id(-m.threat_id()), refuse_syncs)
        r.mutable_error()->set_code(qn::EC_DB_COMMON_ERROR);
    };
    if (m.tag() == fc::ClientMessage::THREAT_SYNC_REQUEST) send(from, server_t::THREAT_SYNC_RESPONSE, answer);
    return fc::ClientMessage::ClientMessageTag_Name(m.tag()) +
           (m.has_threat_id() || m.has_history_id() ? " " + std::to_string(m.threat_id() + m.history_id()) : "");
  }

  // The next n messages to the file checker, joined by "|", connection after connection; idle()
  // runs whenever none came.
  std::string collect(std::size_t n, std::function<void()> const& idle = nullptr) {
    std::vector<std::string> got(conns.size());
    std::size_t total = 0;
    pump([&] {
      std::size_t const before = total;
      for (std::size_t i = 0; i < conns.size(); ++i)
        for (; total < n && conns[i].available(); ++total) got[i] += (got[i].empty() ? "" : "|") + receive(conns[i]);
      if (total == before && idle) idle();
      return total >= n;
    });
    got.erase(std::remove(got.begin(), got.end(), ""), got.end());
    return boost::algorithm::join(got, "|");
  }

  // Whether the file checker hears nothing more once the database thread and the loop have both
  // run dry: what is under way has shown by then, however slow the database.
  bool quiet() {
    for (int still = 0; still < 2;) {
      pump([&] { return app->threat_base->is_idle(); });
      still = (app->io_context.restart(), app->io_context.poll()) ? 0 : still + 1;
    }
    return std::none_of(conns.begin(), conns.end(), [](fc_socket_t& s) { return s.available(); });
  }

  threat_db_fixture_t db;
  boost::asio::io_context io;
  boost::asio::local::stream_protocol::acceptor listener{io, (db.sandbox() / "fc.sock").string()};
  std::deque<fc_socket_t> conns;
  bool refuse_syncs = false;
};
