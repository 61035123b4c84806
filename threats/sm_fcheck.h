#pragma once

// Keeps the daemon subscribed to the file checker's threat events, which is
// how it learns where the threat database lies, and carries the delayed
// threat operations.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/noncopyable.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/system/error_code.hpp>

#include "action.pb.h"
#include "scanning/sm_fcheck_connector.h"
#include "service/sm_clock.h"

class sm_app_t;

class sm_fcheck_t : private boost::noncopyable, public sm_fcheck_connector_t::delegate {
 public:
  typedef std::function<void(boost::system::error_code const&)> op_callback_t;

  explicit sm_fcheck_t(sm_app_t& app);
  ~sm_fcheck_t() override;

  // At every reconfiguration.
  void init();
  // The callback gets the outcome exactly once, never inside this call.
  void async_threat_op(std::int64_t threat_id, qn::ThreatOp op, op_callback_t const& callback);

  void threats_op_response_received(std::uint32_t serial, boost::system::error_code const& ec) override;
  void proxy_scan_response_received(std::uint32_t serial, qn::ScanReport const& report, std::int64_t threat_id,
                                    boost::system::error_code const& ec) override;
  void threats_subscribed(std::string const& dbpath) override;
  void threat_sync_response_received(std::uint32_t serial, std::int64_t history_id,
                                     boost::system::error_code const& ec) override;
  void threats_notification_received(std::int64_t history_id) override;
  void alarm_received(boost::system::error_code const& ec) override;
  void connection_error(boost::system::error_code const& ec) override;

 private:
  struct queued_op_t {
    std::int64_t threat_id;
    qn::ThreatOp op;
    op_callback_t callback;
  };

  void handle_error(boost::system::error_code const& ec);
  void reset(boost::system::error_code const& ec);
  void socket_received(boost::system::error_code const& ec, boost::filesystem::path const& socket_path);
  void subscribe();
  void resubscribe();
  void start_subscription_timer();
  void on_subscription_timer(boost::system::error_code const& ec);
  void send_op(std::int64_t threat_id, qn::ThreatOp op, op_callback_t const& callback);
  void flush_queue();
  void fail_all(boost::system::error_code const& ec);
  void database_closed();

  sm_app_t& app;
  std::shared_ptr<sm_fcheck_connector_t> link;
  // 0 idle, 1 asking for the socket, 2 connected, 3 waiting for the subscription timer,
  // 4 subscribing, 5 subscribed, 6 stopped.
  int state = 0;
  boost::signals2::connection closed_connection;
  std::vector<queued_op_t> queued_ops;
  std::map<std::uint32_t, op_callback_t> waiting_ops;
  sm_steady_timer_t subscription_timer;
  sm_clock_t::steady::time_point last_subscribe;
  int error_count = 0;
  boost::system::error_code last_error;
  // Set while an announced path reopens the database: that close asks for no new subscription.
  bool reopening = false;
};
