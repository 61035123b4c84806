#pragma once

// The stand-in's listening socket and what it answers: proxy scans, threat syncs and operations,
// the threats subscription with its notifications, and alarms on SIGUSR1 and SIGUSR2.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "fcheck_client_ipc.pb.h"
#include "tools/fcheck_stub/stub_client.h"
#include "tools/fcheck_stub/stub_options.h"
#include "tools/fcheck_stub/stub_scanner.h"
#include "tools/fcheck_stub/stub_threat_keeper.h"

class stub_fcheck_server_t {
 public:
  stub_fcheck_server_t(boost::asio::io_context& io, stub_options_t const& options, stub_scanner_t const& scanner,
                       stub_threat_keeper_t& keeper, std::string const& db_path);
  // Removes the socket file.
  ~stub_fcheck_server_t();
  stub_fcheck_server_t(stub_fcheck_server_t const&) = delete;
  stub_fcheck_server_t& operator=(stub_fcheck_server_t const&) = delete;

  // Replaces a stale socket file, listens, prints "ready" and waits for clients and signals; the
  // event loop ends on SIGTERM or SIGINT. Throws std::exception when it cannot listen.
  void start();
  // One message of a client, already printed.
  void handle(std::shared_ptr<stub_client_t> const& client, fc::ClientMessage const& message);
  void forget(int number);

 private:
  void accept();
  void fill_backlog();
  // Runs `then` after the delay, at once for 0.
  void after(std::uint32_t delay_ms, std::function<void()> const& then);
  void on_signal(boost::system::error_code const& ec, int signal_number);
  void scan(std::shared_ptr<stub_client_t> const& client, std::uint32_t serial, std::string const& path);
  // Runs --scan-hook with `when` and the path, and waits for it.
  void run_hook(char const* when, std::string const& path) const;
  // Swaps `path` with the --exchange-on-read name beside it.
  void exchange(std::string const& path) const;
  void answer_scan(std::weak_ptr<stub_client_t> const& client, std::uint32_t serial,
                   stub_scanner_t::result_t const& result);
  void notify(std::int64_t history_id);
  // Sends the alarm to every client for which `flag` is set, and clears it.
  void alarm(fc::ServerMessage::ServerMessageTag tag, bool stub_client_t::*flag);

  boost::asio::io_context& io;
  stub_options_t const& options;
  stub_scanner_t const& scanner;
  stub_threat_keeper_t& keeper;
  std::string db_path;
  boost::asio::local::stream_protocol::acceptor acceptor;
  boost::asio::steady_timer accept_pause;
  boost::asio::signal_set signals;
  std::map<int, std::shared_ptr<stub_client_t>> clients;
  int next_number = 1;
  bool listening = false;
  std::vector<int> backlog;  // --full-backlog: its own connections, never accepted
};
