#include "scanning/sm_proxy_scan.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include "action.pb.h"
#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"
#include "service/sm_configd_tie.h"
#include "service/sm_settings.h"
#include "threats/sm_threat_base.h"

namespace {

// A failed scanner stays failed for this long; the first scan after it reopens.
constexpr std::chrono::nanoseconds retry_after = std::chrono::seconds(10);
// What the file checker is granted beyond the scan timeout it was given.
constexpr std::chrono::nanoseconds answer_grace = std::chrono::seconds(10);

void log_error(std::string const& text) {
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, text);
}

}  // namespace

sm_proxy_scan_t::sm_proxy_scan_t(sm_app_t& app, std::string const& tag)
    : app(app), tag(tag), deadline_timer(app.io_context) {
  if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_proxy_scan_t: tag=\"" + tag + "\": start");
}

sm_proxy_scan_t::~sm_proxy_scan_t() {
  boost::system::error_code const ec = qn::make_error_code(qn::EC_APP_TERMINATED);
  fail_all(ec);
  // A scanner kept beyond the application's map may outlive the threat database.
  if (app.threat_base) app.threat_base->cancel_syncs(tag, ec);
  drop_link();
  closed_connection.disconnect();
  if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_proxy_scan_t: tag=\"" + tag + "\": end");
}

void sm_proxy_scan_t::init() {
  if (app.settings->suspended) {
    stop(qn::make_error_code(qn::EC_APP_SUSPENDED));
    state = suspended;
    return;
  }
  if (!closed_connection.connected())
    closed_connection =
        app.threat_base->connect_closed([this] { fail_pending_syncs(qn::make_error_code(qn::EC_UNEXPECTED_ERROR)); });
  take_deadline(app.settings->scan_timeout(tag));
  if (state == suspended)
    state = idle;
  else if (state == ready)
    send_options();
}

void sm_proxy_scan_t::async_scan(std::string const& path, scan_callback_t const& callback) {
  if (cf_log_threshold <= CF_LOG_DEBUG) {
    std::ostringstream text;
    text << "sm_proxy_scan_t::async_scan: " << boost::filesystem::path(path);
    cf_log(CF_LOG_DEBUG, text.str());
  }
  if (state == failed && sm_clock_t::steady::now() - failure_time > retry_after) {
    if (link)
      reopen();
    else
      state = idle;
  }
  switch (state) {
    case suspended:
    case failed: {
      boost::system::error_code const ec = state == suspended ? qn::make_error_code(qn::EC_APP_SUSPENDED) : last_error;
      boost::asio::post(app.io_context, [callback, ec] { callback(ec, qn::ScanReport(), 0); });
      return;
    }
    case ready:
      send_scan(path, callback);
      return;
    default:
      queued_scans.push_back(queued_scan_t{path, callback, deadline_from_now()});
      arm_deadline(queued_scans.back().deadline);
      if (state == idle) connect();
      return;
  }
}

void sm_proxy_scan_t::connect() {
  state = connecting;
  // One request at a time: while ConfigD keeps silent, reconnections would pile up callbacks.
  if (socket_asked) return;
  socket_asked = true;
  app.configd->get_fcheck_request(
      [this](boost::system::error_code const& ec, boost::filesystem::path const& socket_path) {
        socket_received(ec, socket_path);
      });
}

void sm_proxy_scan_t::socket_received(boost::system::error_code const& ec, boost::filesystem::path const& socket_path) {
  socket_asked = false;
  if (state != connecting) return;
  boost::system::error_code failure;
  std::shared_ptr<sm_fcheck_connector_t> fresh =
      sm_fcheck_connector_t::create_for(app.io_context, ec, socket_path, this, failure);
  if (!fresh) {
    stop(failure);
    return;
  }
  drop_link();
  link = fresh;
  reopen();
}

void sm_proxy_scan_t::reopen() {
  if (state == suspended) return;
  link->open_proxy();
  send_options();
  state = ready;
  flush_queue();
}

fc::ProxyOptions sm_proxy_scan_t::make_proxy_options() const {
  sm_settings_t const& settings = *app.settings;
  fc::ProxyOptions options;
  options.set_scan_timeout_ms(settings.scan_timeout(tag));
  options.set_heuristic_analysis(settings.heuristic_analysis(tag));
  options.set_packer_max_level(settings.packer_max_level(tag));
  options.set_archive_max_level(settings.archive_max_level(tag));
  options.set_mail_max_level(settings.mail_max_level(tag));
  options.set_container_max_level(settings.container_max_level(tag));
  options.set_max_compression_ratio(settings.max_compression_ratio(tag));
  return options;
}

void sm_proxy_scan_t::send_options() {
  fc::ProxyOptions const options = make_proxy_options();
  take_deadline(options.scan_timeout_ms());
  link->proxy_options_notification(options);
}

void sm_proxy_scan_t::take_deadline(std::uint32_t scan_timeout_ms) {
  scan_deadline = scan_timeout_ms ? std::chrono::milliseconds(scan_timeout_ms) + answer_grace
                                  : sm_clock_t::steady::duration::zero();
}

sm_clock_t::steady::time_point sm_proxy_scan_t::deadline_from_now() const {
  return scan_deadline == sm_clock_t::steady::duration::zero() ? sm_clock_t::steady::time_point::max()
                                                               : sm_clock_t::steady::now() + scan_deadline;
}

void sm_proxy_scan_t::send_scan(std::string const& path, scan_callback_t const& callback) {
  std::uint32_t const serial = link->proxy_scan_request(path);
  pending_scan_t& pending = pending_scans[serial];
  pending.callback = callback;
  pending.deadline = deadline_from_now();
  arm_deadline(pending.deadline);
}

void sm_proxy_scan_t::arm_deadline(sm_clock_t::steady::time_point deadline) {
  if (deadline == sm_clock_t::steady::time_point::max() || (deadline_armed && deadline_timer.expiry() <= deadline))
    return;
  deadline_armed = true;
  deadline_timer.expires_at(deadline);
  // A wait aborted by the timer's end or by an earlier deadline leaves the scanner alone: the
  // scanner may be gone, and a newer wait is on.
  deadline_timer.async_wait([this](boost::system::error_code const& ec) {
    if (ec != boost::asio::error::operation_aborted) deadline_passed();
  });
}

void sm_proxy_scan_t::deadline_passed() {
  deadline_armed = false;
  sm_clock_t::steady::time_point const now = sm_clock_t::steady::now();
  sm_clock_t::steady::time_point earliest = sm_clock_t::steady::time_point::max();
  for (auto const& scan : pending_scans) earliest = std::min(earliest, scan.second.deadline);
  bool const answer_overdue = earliest <= now;
  for (queued_scan_t const& scan : queued_scans) earliest = std::min(earliest, scan.deadline);
  if (earliest > now) {
    arm_deadline(earliest);
    return;
  }
  boost::system::error_code const timed_out = qn::make_error_code(qn::EC_NETWORK_TIMEDOUT);
  if (answer_overdue) {
    // The link owes an answer it will not give: it fails as a broken link does.
    connection_error(timed_out);
    return;
  }
  // ConfigD has not named the file checker in time: the scanner fails as for a socket it cannot get.
  log_error("Failed to get DazaVadov socket: " + timed_out.message());
  stop(timed_out);
}

void sm_proxy_scan_t::flush_queue() {
  std::vector<queued_scan_t> queue;
  queue.swap(queued_scans);
  for (queued_scan_t const& scan : queue) send_scan(scan.path, scan.callback);
}

void sm_proxy_scan_t::sync_threat(std::int64_t threat_id, sync_callback_t const& callback) {
  if (!link) {
    boost::asio::post(app.io_context, [callback] { callback(qn::make_error_code(qn::EC_NO_FILE_CHECK), -1); });
    return;
  }
  std::uint32_t const serial = link->threat_sync_request(threat_id);
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG,
           "sm_proxy_scan_t: sync_threat #" + std::to_string(threat_id) + ", serial: " + std::to_string(serial));
  pending_syncs[serial] = callback;
}

void sm_proxy_scan_t::ignore_threat(std::int64_t threat_id) {
  if (!link) return;
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_proxy_scan_t tag='" + tag + "': ignore threat #" + std::to_string(threat_id));
  link->threat_op_request(threat_id, qn::THREAT_OP_IGNORE);
}

void sm_proxy_scan_t::notify_threat(std::int64_t history_id) {
  if (link) link->my_threat_notification(history_id);
}

void sm_proxy_scan_t::threats_op_response_received(std::uint32_t, boost::system::error_code const&) {}

void sm_proxy_scan_t::proxy_scan_response_received(std::uint32_t serial, qn::ScanReport const& report,
                                                   std::int64_t threat_id, boost::system::error_code const& ec) {
  auto const found = pending_scans.find(serial);
  if (found == pending_scans.end()) {
    if (cf_log_threshold <= CF_LOG_DEBUG)
      cf_log(CF_LOG_DEBUG, "sm_proxy_scan_t: no scan waits for serial " + std::to_string(serial));
    return;
  }
  scan_callback_t const callback = std::move(found->second.callback);
  pending_scans.erase(found);
  callback(ec, report, threat_id);
}

void sm_proxy_scan_t::threats_subscribed(std::string const&) {}

void sm_proxy_scan_t::threat_sync_response_received(std::uint32_t serial, std::int64_t history_id,
                                                    boost::system::error_code const& ec) {
  auto const found = pending_syncs.find(serial);
  if (found == pending_syncs.end()) {
    log_error("Sync threat: wrong serial " + std::to_string(serial));
    return;
  }
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_proxy_scan_t: threat sync response received: " + std::to_string(serial));
  sync_callback_t const callback = std::move(found->second);
  pending_syncs.erase(found);
  callback(ec, history_id);
}

void sm_proxy_scan_t::threats_notification_received(std::int64_t) {}

void sm_proxy_scan_t::alarm_received(boost::system::error_code const& ec) {
  log_error("ProxyScan error: " + ec.message());
  // The link and its pending syncs stay: the next scan after the pause reopens the proxy on it.
  record_failure(ec);
  fail_scans(ec);
}

void sm_proxy_scan_t::connection_error(boost::system::error_code const& ec) {
  log_error("DazaVadov connection error: " + ec.message());
  stop(ec);
}

void sm_proxy_scan_t::record_failure(boost::system::error_code const& ec) {
  if (state == suspended) return;
  state = failed;
  last_error = ec;
  failure_time = sm_clock_t::steady::now();
}

void sm_proxy_scan_t::drop_link() {
  if (!link) return;
  // Closed as well as dropped: a pending read would keep it alive, and a late
  // answer could meet a scan of the next link under the same serial.
  link->close();
  link.reset();
}

void sm_proxy_scan_t::stop(boost::system::error_code const& ec) {
  drop_link();
  record_failure(ec);
  fail_all(ec);
  app.threat_base->cancel_syncs(tag, ec);
}

void sm_proxy_scan_t::fail_all(boost::system::error_code const& ec) {
  fail_scans(ec);
  fail_pending_syncs(ec);
}

// Taken out before the calls, so that a callback may scan or sync again.
void sm_proxy_scan_t::fail_scans(boost::system::error_code const& ec) {
  std::map<std::uint32_t, pending_scan_t> sent;
  sent.swap(pending_scans);
  std::vector<queued_scan_t> queue;
  queue.swap(queued_scans);
  qn::ScanReport const empty;
  for (auto const& scan : sent) scan.second.callback(ec, empty, 0);
  for (queued_scan_t const& scan : queue) scan.callback(ec, empty, 0);
}

void sm_proxy_scan_t::fail_pending_syncs(boost::system::error_code const& ec) {
  std::map<std::uint32_t, sync_callback_t> syncs;
  syncs.swap(pending_syncs);
  for (auto const& sync : syncs) sync.second(ec, -1);
}
