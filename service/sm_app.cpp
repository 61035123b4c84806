#include "service/sm_app.h"

#include <csignal>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/log/cf_log.h"

sm_app_t::sm_app_t(int configd_fd)
    : settings(new sm_settings_t()),
      configd(sm_configd_tie_t::create(*this, configd_fd)),
      share_stat(new sm_share_stat_t(*this)),
      fcheck(new sm_fcheck_t(*this)),
      module_server(new sm_module_server_t(*this)),
      threat_base(new sm_threat_base_t(*this)),
      threat_handler(new sm_threat_handler_t(*this)),
      file_cache(new sm_file_cache_t(*this)),
      action_executor(std::make_shared<sm_action_executor_t>(*this)),
      sighup_set(io_context, SIGHUP),
      sigterm_set(io_context, SIGTERM) {
  async_wait_sighup();
  async_wait_sigterm();
}

sm_app_t::~sm_app_t() = default;

std::shared_ptr<sm_proxy_scan_t> sm_app_t::get_proxy_scan(std::string const& tag) {
  auto found = proxy_scans.find(tag);
  if (found != proxy_scans.end()) return found->second;
  std::shared_ptr<sm_proxy_scan_t> scan = std::make_shared<sm_proxy_scan_t>(*this, tag);
  scan->init();
  proxy_scans.emplace(tag, scan);
  return scan;
}

void sm_app_t::reconfigure() {
  for (auto& entry : proxy_scans) entry.second->init();
  file_cache->init();
  threat_handler->init();
  action_executor->init();
  threat_base->init();
  fcheck->init();
  module_server->init();
  reconfigured();
}

void sm_app_t::async_wait_sighup() {
  sighup_set.async_wait([this](boost::system::error_code const& ec, int n) { on_sighup(ec, n); });
}

void sm_app_t::async_wait_sigterm() {
  sigterm_set.async_wait([this](boost::system::error_code const& ec, int n) { on_sigterm(ec, n); });
}

void sm_app_t::on_sighup(boost::system::error_code const& ec, int /*signal_number*/) {
  if (ec) {
    if (ec == boost::asio::error::operation_aborted) return;
    throw boost::system::system_error(ec, "SIGHUP");
  }
  if (cf_log_threshold <= CF_LOG_NOTICE) cf_log(CF_LOG_NOTICE, "SIGHUP received, config will be ordered from ConfigD");
  configd->get_config_request();
  async_wait_sighup();
}

void sm_app_t::on_sigterm(boost::system::error_code const& ec, int /*signal_number*/) {
  if (ec) {
    if (ec == boost::asio::error::operation_aborted) return;
    throw boost::system::system_error(ec, "SIGTERM");
  }
  if (cf_log_threshold <= CF_LOG_NOTICE) cf_log(CF_LOG_NOTICE, "Termination signal received, exiting...");
  throw qn::EC_APP_TERMINATED;
}
