#include "threats/sm_action_executor.h"

// Skeleton: filled in with the executor.
sm_action_executor_t::sm_action_executor_t(sm_app_t& app) : app(app) {}
sm_action_executor_t::~sm_action_executor_t() = default;
void sm_action_executor_t::init() {}
void sm_action_executor_t::add_threat(std::shared_ptr<sm_threat_t> const&) {}
void sm_action_executor_t::restart() {}
void sm_action_executor_t::stop() {}
