#include "scanning/sm_proxy_scan.h"

// Skeleton: filled in with the scanner.
sm_proxy_scan_t::sm_proxy_scan_t(sm_app_t& app, std::string const& tag) : app(app), tag(tag) {}
sm_proxy_scan_t::~sm_proxy_scan_t() = default;
void sm_proxy_scan_t::init() {}
void sm_proxy_scan_t::async_scan(std::string const&, scan_callback_t const&) {}
void sm_proxy_scan_t::sync_threat(std::int64_t, sync_callback_t const&) {}
void sm_proxy_scan_t::ignore_threat(std::int64_t) {}
void sm_proxy_scan_t::notify_threat(std::int64_t) {}
void sm_proxy_scan_t::threats_op_response_received(std::uint32_t, boost::system::error_code const&) {}
void sm_proxy_scan_t::proxy_scan_response_received(std::uint32_t, qn::ScanReport const&, std::int64_t,
                                                   boost::system::error_code const&) {}
void sm_proxy_scan_t::threats_subscribed(std::string const&) {}
void sm_proxy_scan_t::threat_sync_response_received(std::uint32_t, std::int64_t, boost::system::error_code const&) {}
void sm_proxy_scan_t::threats_notification_received(std::int64_t) {}
void sm_proxy_scan_t::alarm_received(boost::system::error_code const&) {}
void sm_proxy_scan_t::connection_error(boost::system::error_code const&) {}
