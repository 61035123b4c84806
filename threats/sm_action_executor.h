#pragma once

// Carries out the delayed part of a share's threat action: once the action
// delay has passed since a blocked threat was detected, loads it again and,
// unless it is gone or neutralized, has the file checker cure, quarantine or
// delete it. Walks the locked threats of the database behind a cursor, one at
// a time, and queues threats handed in behind the cursor or while idle. Runs
// only while the threat database is open and the daemon is not suspended.

#include <cstdint>
#include <memory>
#include <set>
#include <utility>

#include <boost/multi_index/composite_key.hpp>
#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index_container.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/system/error_code.hpp>

#include "service/sm_clock.h"
#include "threats/sm_threat.h"
#include "threats/sm_threat_base.h"

class sm_app_t;

class sm_action_executor_t {
 public:
  explicit sm_action_executor_t(sm_app_t& app);
  ~sm_action_executor_t();

  sm_action_executor_t(sm_action_executor_t const&) = delete;
  sm_action_executor_t& operator=(sm_action_executor_t const&) = delete;

  // At every reconfiguration.
  void init();
  // A locked, not neutralized threat recorded by this daemon.
  void add_threat(std::shared_ptr<sm_threat_t> const& threat);
  void restart();
  void stop();

 private:
  typedef sm_threat_base_t::task_t task_t;

  void plan_action(int generation);
  void schedule_action(int generation, task_t const& task);
  void execute_action(int generation, std::int64_t threat_id, boost::system::error_code const& ec);
  void action_done(int generation, std::shared_ptr<sm_threat_t> const& threat, boost::system::error_code const& ec);

  enum : std::uint32_t { stopped = 0, running = 1, idle = 2 };

  struct by_id {};
  struct by_moment {};
  typedef boost::multi_index_container<
      task_t,
      boost::multi_index::indexed_by<
          boost::multi_index::ordered_unique<boost::multi_index::tag<by_id>,
                                             boost::multi_index::member<task_t, std::int64_t, &task_t::threat_id>>,
          boost::multi_index::ordered_unique<
              boost::multi_index::tag<by_moment>,
              boost::multi_index::composite_key<task_t,
                                                boost::multi_index::member<task_t, std::int64_t, &task_t::moment>,
                                                boost::multi_index::member<task_t, std::int64_t, &task_t::threat_id>>>>>
      task_queue_t;

  sm_app_t& app;
  std::uint32_t state = stopped;
  int generation = 1;
  task_t cursor;
  sm_system_timer_t timer;
  boost::signals2::connection opened_connection;
  boost::signals2::connection closed_connection;
  task_queue_t queued_tasks;
  // Threats whose operation has been asked for and not answered yet, whichever walk asked.
  std::set<std::int64_t> acting;
  // The generation of a later walk that reached a threat of `acting`, and that threat.
  std::pair<int, std::int64_t> held{0, -1};
};
