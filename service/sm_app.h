#pragma once

// The application object: owns the event loop and every component, which
// reach one another through it. Members are built in declaration order and
// destroyed in reverse.

#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/system/error_code.hpp>

#include "service/sm_configd_tie.h"
#include "service/sm_settings.h"
#include "service/sm_share_stat.h"

class sm_app_t {
 public:
  // configd_fd: the inherited, connected ConfigD socket.
  explicit sm_app_t(int configd_fd);
  ~sm_app_t();

  sm_app_t(sm_app_t const&) = delete;
  sm_app_t& operator=(sm_app_t const&) = delete;

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
  boost::asio::signal_set sighup_set;
  boost::asio::signal_set sigterm_set;
};
