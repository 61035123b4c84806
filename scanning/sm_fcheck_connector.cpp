#include "scanning/sm_fcheck_connector.h"

// Skeleton: filled in with the link.
namespace {
constexpr std::size_t fcheck_message_limit = std::size_t(1) << 26;
}

sm_fcheck_connector_t::delegate::~delegate() = default;
sm_fcheck_connector_t::sm_fcheck_connector_t() : cf_ipc_link_t(fcheck_message_limit) {}
std::shared_ptr<sm_fcheck_connector_t> sm_fcheck_connector_t::create(boost::asio::io_context&,
                                                                     boost::filesystem::path const&) {
  return std::shared_ptr<sm_fcheck_connector_t>(new sm_fcheck_connector_t());
}
void sm_fcheck_connector_t::set_delegate(delegate* d) { owner = d; }
void sm_fcheck_connector_t::subscribe_to_threats() {}
std::uint32_t sm_fcheck_connector_t::threat_sync_request(std::int64_t) { return threat_op_serial++; }
void sm_fcheck_connector_t::my_threat_notification(std::int64_t) {}
std::uint32_t sm_fcheck_connector_t::threat_op_request(std::int64_t, qn::ThreatOp) { return threat_op_serial++; }
void sm_fcheck_connector_t::open_proxy() {}
void sm_fcheck_connector_t::proxy_options_notification(fc::ProxyOptions const&) {}
std::uint32_t sm_fcheck_connector_t::proxy_scan_request(std::string const&) { return proxy_serial++; }
void sm_fcheck_connector_t::on_message(google::protobuf::io::ZeroCopyInputStream*) {}
void sm_fcheck_connector_t::on_error(boost::system::error_code const&) {}
std::shared_ptr<cf_ipc_link_t> sm_fcheck_connector_t::get_shared() { return shared_from_this(); }
