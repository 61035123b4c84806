#pragma once

// The application object: owns the event loop and every component, which
// reach one another through it. Members are built in declaration order and
// destroyed in reverse.

#include <map>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/system/error_code.hpp>

#include "scanning/sm_proxy_scan.h"
#include "scanning/sm_threat_handler.h"
#include "service/sm_configd_tie.h"
#include "service/sm_settings.h"
#include "service/sm_share_stat.h"
#include "threats/sm_action_executor.h"
#include "threats/sm_fcheck.h"
#include "threats/sm_threat_base.h"
#include "vfs_link/sm_file_cache.h"
#include "vfs_link/sm_module_server.h"

class sm_app_t {
 public:
  // configd_fd: the inherited, connected ConfigD socket.
  explicit sm_app_t(int configd_fd);
  ~sm_app_t();

  sm_app_t(sm_app_t const&) = delete;
  sm_app_t& operator=(sm_app_t const&) = delete;

  // The share's proxy scanner, made (and initialised) on first use. The tag
  // is compared unchanged; callers pass it normalised.
  std::shared_ptr<sm_proxy_scan_t> get_proxy_scan(std::string const& tag);

  // After every applied configuration; ends with the "configuration changed"
  // signal.
  void reconfigure();

  void async_wait_sighup();
  void async_wait_sigterm();
  void on_sighup(boost::system::error_code const& ec, int signal_number);
  void on_sigterm(boost::system::error_code const& ec, int signal_number);

  boost::signals2::signal<void()> reconfigured;
  boost::asio::io_context io_context;
  std::unique_ptr<sm_settings_t> settings;
  std::shared_ptr<sm_configd_tie_t> configd;
  std::unique_ptr<sm_share_stat_t, sm_share_stat_t::deleter_t> share_stat;
  std::unique_ptr<sm_fcheck_t> fcheck;
  std::unique_ptr<sm_module_server_t> module_server;
  std::unique_ptr<sm_threat_base_t> threat_base;
  std::unique_ptr<sm_threat_handler_t> threat_handler;
  std::unique_ptr<sm_file_cache_t> file_cache;
  std::shared_ptr<sm_action_executor_t> action_executor;
  // Ordered by plain byte comparison of the tag; never shrinks.
  std::map<std::string, std::shared_ptr<sm_proxy_scan_t>> proxy_scans;
  boost::asio::signal_set sighup_set;
  boost::asio::signal_set sigterm_set;
};
