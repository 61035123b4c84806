#include "scanning/sm_threat_handler.h"

// Skeleton: filled in with the handler.
sm_threat_handler_t::sm_threat_handler_t(sm_app_t& app) : app(app) {}
std::uint32_t sm_threat_handler_t::process_scan_info(scan_info_t&, std::int64_t) { return 1; }
void sm_threat_handler_t::threat_received(std::shared_ptr<sm_threat_t> const&) {}
void sm_threat_handler_t::init() {}
void sm_threat_handler_t::load_actions(std::string const&) {}
qn::SMBThreatAction sm_threat_handler_t::action_for(qn::ScanReport const&, std::string const&) { return qn::SMB_BLOCK; }
qn::SMBThreatAction sm_threat_handler_t::action_for(std::shared_ptr<sm_threat_t> const&) { return qn::SMB_BLOCK; }
std::uint32_t sm_threat_handler_t::default_verdict(std::string const&) const { return 1; }
std::pair<bool, qn::ThreatOp> sm_threat_handler_t::threat_op_by_action(std::shared_ptr<sm_threat_t> const&) {
  return {false, qn::THREAT_OP_CURE};
}
std::pair<bool, qn::ThreatOp> sm_threat_handler_t::threat_op(std::shared_ptr<sm_threat_t> const&) {
  return {false, qn::THREAT_OP_CURE};
}
