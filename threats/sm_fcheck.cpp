#include "threats/sm_fcheck.h"

#include <chrono>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"

namespace {

void log_error(std::string const& text) {
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, text);
}

}  // namespace

sm_fcheck_t::sm_fcheck_t(sm_app_t& app) : app(app), subscription_timer(app.io_context) {}

sm_fcheck_t::~sm_fcheck_t() {
  boost::system::error_code ignored;
  subscription_timer.cancel(ignored);
  if (link) link->close();
}

void sm_fcheck_t::init() {
  error_count = 0;
  if (app.settings->suspended) {
    reset(qn::make_error_code(qn::EC_APP_SUSPENDED));
    return;
  }
  if (!closed_connection.connected())
    closed_connection = app.threat_base->connect_closed([this] { database_closed(); });
  if (state == 6) state = 0;
  if (state == 0)
    handle_error(boost::system::error_code());
  else if (state == 3)
    subscribe();
}

void sm_fcheck_t::database_closed() {
  if (reopening) return;
  if (app.threat_base->is_broken())
    reset(qn::make_error_code(qn::EC_DATA_CORRUPTED));
  else
    resubscribe();
}

void sm_fcheck_t::handle_error(boost::system::error_code const& ec) {
  if (state == 6) return;
  if (ec) ++error_count;
  reset(ec);
  if (error_count <= 20) {
    state = 1;
    app.configd->get_fcheck_request([this](boost::system::error_code const& error,
                                           boost::filesystem::path const& path) { socket_received(error, path); });
  } else if (cf_log_threshold <= CF_LOG_NOTICE) {
    cf_log(CF_LOG_NOTICE, "Threats subscription: too many errors, decided to be broken");
  }
}

void sm_fcheck_t::reset(boost::system::error_code const& ec) {
  state = 6;
  // Closed, not only released: its pending read would keep it alive and talking to us.
  if (link) link->close();
  link.reset();
  app.threat_base->close();
  subscription_timer.cancel();
  last_error = ec;
  if (ec) fail_all(ec);
}

void sm_fcheck_t::fail_all(boost::system::error_code const& ec) {
  std::map<std::uint32_t, op_callback_t> sent;
  sent.swap(waiting_ops);
  std::vector<queued_op_t> queued;
  queued.swap(queued_ops);
  for (auto const& op : sent) op.second(ec);
  for (auto const& op : queued) op.callback(ec);
}

void sm_fcheck_t::socket_received(boost::system::error_code const& ec, boost::filesystem::path const& socket_path) {
  // One ConfigD answer serves every request of its round: only the current one may connect.
  if (state != 1) return;
  boost::system::error_code failure;
  std::shared_ptr<sm_fcheck_connector_t> fresh =
      sm_fcheck_connector_t::create_for(app.io_context, ec, socket_path, this, failure);
  if (!fresh) {
    handle_error(failure);
    return;
  }
  link = fresh;
  state = 2;
  subscribe();
  flush_queue();
}

void sm_fcheck_t::subscribe() {
  if (!link || state == 4) return;
  if (state == 3) state = 2;
  subscription_timer.cancel();
  state = 4;
  last_subscribe = sm_clock_t::steady::now();
  link->subscribe_to_threats();
}

void sm_fcheck_t::resubscribe() {
  if (!link || state == 4) return;
  if (sm_clock_t::steady::now() - last_subscribe > std::chrono::seconds(1))
    subscribe();
  else if (state != 3)
    start_subscription_timer();
}

void sm_fcheck_t::start_subscription_timer() {
  state = 3;
  subscription_timer.expires_at(last_subscribe + std::chrono::seconds(1));
  subscription_timer.async_wait([this](boost::system::error_code const& ec) { on_subscription_timer(ec); });
}

void sm_fcheck_t::on_subscription_timer(boost::system::error_code const& ec) {
  if (ec == boost::asio::error::operation_aborted) return;
  if (ec) throw boost::system::system_error(ec, "SubscriptionTimer");
  if (state == 3) subscribe();
}

void sm_fcheck_t::async_threat_op(std::int64_t threat_id, qn::ThreatOp op, op_callback_t const& callback) {
  if (state == 6)
    boost::asio::post(app.io_context, [callback, ec = last_error] { callback(ec); });
  else if (link)
    send_op(threat_id, op, callback);
  else
    queued_ops.push_back({threat_id, op, callback});
}

void sm_fcheck_t::send_op(std::int64_t threat_id, qn::ThreatOp op, op_callback_t const& callback) {
  waiting_ops[link->threat_op_request(threat_id, op)] = callback;
}

void sm_fcheck_t::flush_queue() {
  std::vector<queued_op_t> queued;
  queued.swap(queued_ops);
  for (auto const& op : queued) send_op(op.threat_id, op.op, op.callback);
}

void sm_fcheck_t::threats_op_response_received(std::uint32_t serial, boost::system::error_code const& ec) {
  // An answer nobody waits for changes nothing.
  auto const found = waiting_ops.find(serial);
  if (found == waiting_ops.end()) return;
  op_callback_t const callback = std::move(found->second);
  waiting_ops.erase(found);
  callback(ec);
}

void sm_fcheck_t::proxy_scan_response_received(std::uint32_t, qn::ScanReport const&, std::int64_t,
                                               boost::system::error_code const&) {}

void sm_fcheck_t::threats_subscribed(std::string const& dbpath) {
  state = 5;
  error_count = 0;
  reopening = true;
  try {
    app.threat_base->open(dbpath);
  } catch (...) {
    reopening = false;
    throw;
  }
  reopening = false;
}

void sm_fcheck_t::threat_sync_response_received(std::uint32_t, std::int64_t, boost::system::error_code const&) {}

void sm_fcheck_t::threats_notification_received(std::int64_t history_id) {
  if (state == 6 || !app.threat_base->is_opened()) return;
  app.threat_base->async_load_by_history_id(history_id, [this](std::shared_ptr<sm_threat_t> const& threat) {
    if (threat) app.threat_handler->threat_received(threat);
  });
}

void sm_fcheck_t::alarm_received(boost::system::error_code const& ec) {
  log_error("DazaVadov error: " + ec.message());
  state = 2;
  app.threat_base->close();
  resubscribe();
}

void sm_fcheck_t::connection_error(boost::system::error_code const& ec) {
  log_error("DazaVadov connection error: " + ec.message());
  handle_error(ec);
}
