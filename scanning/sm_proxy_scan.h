#pragma once

// Scans the files of one share through the file checker's proxy service, over
// a file-checker connection of its own, opened lazily. A scanner that failed
// fails scans at once for 10 seconds; the first scan after that reopens it.

#include <cstdint>
#include <functional>
#include <string>

#include <boost/noncopyable.hpp>
#include <boost/system/error_code.hpp>

#include "scan_report.pb.h"
#include "scanning/sm_fcheck_connector.h"

class sm_app_t;

class sm_proxy_scan_t : public sm_fcheck_connector_t::delegate, private boost::noncopyable {
 public:
  // A failed scan gets the error, an empty report and threat id 0.
  typedef std::function<void(boost::system::error_code const&, qn::ScanReport const&, std::int64_t)> scan_callback_t;
  // A failed sync gets the error and history id -1.
  typedef std::function<void(boost::system::error_code const&, std::int64_t)> sync_callback_t;

  sm_proxy_scan_t(sm_app_t& app, std::string const& tag);
  ~sm_proxy_scan_t() override;

  // After construction and at every reconfiguration.
  void init();

  // The callback runs exactly once, never inside this call.
  void async_scan(std::string const& path, scan_callback_t const& callback);
  void sync_threat(std::int64_t threat_id, sync_callback_t const& callback);
  // Releases a provisional threat.
  void ignore_threat(std::int64_t threat_id);
  void notify_threat(std::int64_t history_id);

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
  std::string tag;
};
