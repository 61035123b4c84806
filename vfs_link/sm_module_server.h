#pragma once

// Listens on the VFS-module socket and accepts the modules' connections. The
// socket is made anew at every reconfiguration and removed at destruction.

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/system/error_code.hpp>

#include "service/sm_clock.h"

class sm_app_t;
class sm_share_load_t;

class sm_module_server_t {
 public:
  typedef boost::asio::local::stream_protocol::socket socket_t;

  // How long accepting rests after running out of descriptors or memory.
  static constexpr std::chrono::seconds accept_pause{1};

  explicit sm_module_server_t(sm_app_t& app);
  ~sm_module_server_t();

  sm_module_server_t(sm_module_server_t const&) = delete;
  sm_module_server_t& operator=(sm_module_server_t const&) = delete;

  void init();

  // The load of the share of this normalised tag, shared by its connections.
  std::shared_ptr<sm_share_load_t> share_load(std::string const& tag);

 private:
  // The failure of removing the file at the socket path; a missing file is none.
  boost::system::error_code remove_socket_file();
  void async_accept();
  void handle_accept(boost::system::error_code const& ec, std::shared_ptr<socket_t> const& socket);
  void pause_accepting(boost::system::error_code const& ec);

  sm_app_t& app;
  boost::asio::local::stream_protocol::acceptor acceptor;
  std::string socket_path;
  std::shared_ptr<socket_t> pending;
  sm_steady_timer_t pause_timer;
  // Held by the shares' connections; a share without one is forgotten.
  std::map<std::string, std::weak_ptr<sm_share_load_t>> loads;
};
