#include "threats/sm_fcheck.h"

// Skeleton: filled in with the subscription.
sm_fcheck_t::sm_fcheck_t(sm_app_t& app) : app(app) {}
sm_fcheck_t::~sm_fcheck_t() = default;
void sm_fcheck_t::init() {}
void sm_fcheck_t::async_threat_op(std::int64_t, qn::ThreatOp, op_callback_t const&) {}
void sm_fcheck_t::threats_op_response_received(std::uint32_t, boost::system::error_code const&) {}
void sm_fcheck_t::proxy_scan_response_received(std::uint32_t, qn::ScanReport const&, std::int64_t,
                                               boost::system::error_code const&) {}
void sm_fcheck_t::threats_subscribed(std::string const&) {}
void sm_fcheck_t::threat_sync_response_received(std::uint32_t, std::int64_t, boost::system::error_code const&) {}
void sm_fcheck_t::threats_notification_received(std::int64_t) {}
void sm_fcheck_t::alarm_received(boost::system::error_code const&) {}
void sm_fcheck_t::connection_error(boost::system::error_code const&) {}
