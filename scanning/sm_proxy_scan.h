#pragma once

// Scans the files of one share through the file checker's proxy service, over
// a file-checker connection of its own, opened lazily. A scanner that failed
// fails scans at once for 10 seconds; the first scan after that reopens it.
// A scan left unanswered for the share's scan timeout and 10 seconds more
// fails the link, so that a stuck file checker holds no request for ever; one
// still waiting that long for ConfigD to name the file checker fails the same way.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/noncopyable.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/system/error_code.hpp>

#include "fcheck_client_ipc.pb.h"
#include "scan_report.pb.h"
#include "scanning/sm_fcheck_connector.h"
#include "service/sm_clock.h"

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
  enum state_t { idle = 0, connecting = 1, ready = 2, failed = 3, suspended = 4 };

  // A scan sent, with the moment its answer is overdue.
  struct pending_scan_t {
    scan_callback_t callback;
    sm_clock_t::steady::time_point deadline;
  };

  // A scan waiting for the link, with the moment its wait is overdue.
  struct queued_scan_t {
    std::string path;
    scan_callback_t callback;
    sm_clock_t::steady::time_point deadline;
  };

  void connect();
  void socket_received(boost::system::error_code const& ec, boost::filesystem::path const& socket_path);
  void reopen();
  fc::ProxyOptions make_proxy_options() const;
  // Sends the share's options and takes the scan deadline they imply.
  void send_options();
  void take_deadline(std::uint32_t scan_timeout_ms);
  // Now plus the scan deadline; the end of time when scans may wait for ever.
  sm_clock_t::steady::time_point deadline_from_now() const;
  void send_scan(std::string const& path, scan_callback_t const& callback);
  void flush_queue();
  void fail_scans(boost::system::error_code const& ec);
  void fail_pending_syncs(boost::system::error_code const& ec);
  void fail_all(boost::system::error_code const& ec);
  void stop(boost::system::error_code const& ec);
  void record_failure(boost::system::error_code const& ec);
  void drop_link();
  void arm_deadline(sm_clock_t::steady::time_point deadline);
  void deadline_passed();

  sm_app_t& app;
  std::string tag;
  std::shared_ptr<sm_fcheck_connector_t> link;
  int state = idle;
  boost::system::error_code last_error;
  sm_clock_t::steady::time_point failure_time;
  bool socket_asked = false;  // ConfigD has yet to answer this scanner's request for the socket
  std::map<std::uint32_t, sync_callback_t> pending_syncs;
  std::vector<queued_scan_t> queued_scans;
  std::map<std::uint32_t, pending_scan_t> pending_scans;
  boost::signals2::connection closed_connection;
  // How long past its sending a scan may wait; zero: for ever.
  sm_clock_t::steady::duration scan_deadline{};
  // One timer for all the scans sent, due at the earliest deadline.
  sm_steady_timer_t deadline_timer;
  bool deadline_armed = false;
};
