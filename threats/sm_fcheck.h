#pragma once

// Keeps the daemon subscribed to the file checker's threat events, which is
// how it learns where the threat database lies, and carries the delayed
// threat operations.

#include <cstdint>
#include <functional>
#include <string>

#include <boost/noncopyable.hpp>
#include <boost/system/error_code.hpp>

#include "action.pb.h"
#include "scanning/sm_fcheck_connector.h"

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
  sm_app_t& app;
};
