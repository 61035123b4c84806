#pragma once

// Carries out the delayed part of a share's threat action: once the action
// delay has passed since a blocked threat was detected, loads it again and,
// unless it is gone or neutralized, has the file checker cure, quarantine or
// delete it. Runs only while the threat database is open and the daemon is
// not suspended.

#include <memory>

#include "threats/sm_threat.h"
#include "threats/sm_threat_base.h"

class sm_app_t;

class sm_action_executor_t {
 public:
  explicit sm_action_executor_t(sm_app_t& app);
  ~sm_action_executor_t();

  sm_action_executor_t(sm_action_executor_t const&) = delete;
  sm_action_executor_t& operator=(sm_action_executor_t const&) = delete;

  void init();
  // A locked, not neutralized threat recorded by this daemon.
  void add_threat(std::shared_ptr<sm_threat_t> const& threat);
  void restart();
  void stop();

 private:
  sm_app_t& app;
};
