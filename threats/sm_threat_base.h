#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "threats/sm_db.h"
#include "threats/sm_threat.h"

// The daemon's front to the suite's threat database. The statements below run on the
// database thread against an open connection; the daemon never creates a table and never
// inserts or deletes a row.
class sm_threat_base_t {
 public:
  // Position of the delayed-action scan; ordered by moment, then threat id.
  struct task_t {
    std::int64_t threat_id = -1;
    std::int64_t moment = 0;  // seconds since the epoch

    friend bool operator<(task_t const& a, task_t const& b) {
      return std::tie(a.moment, a.threat_id) < std::tie(b.moment, b.threat_id);
    }
    friend bool operator==(task_t const& a, task_t const& b) {
      return a.threat_id == b.threat_id && a.moment == b.moment;
    }
  };

  // History id -> (threat id, neutralized); (-1, false) when the row does not exist.
  static std::pair<std::int64_t, bool> find_history(sm_db_t& db, std::int64_t history_id);

  // The next locked, not neutralized threat of this daemon after the cursor; (-1, 0) when none.
  static task_t load_next_task(sm_db_t& db, task_t const& cursor);

  // Whether the latest detection of the file by this daemon on the share is locked.
  static bool check_locked(sm_db_t& db, boost::filesystem::path const& path, std::uint64_t dev, std::uint64_t ino,
                           std::string const& tag);

  // Records the remote user (only while the threat has that one history row), the lock state
  // and the share tag of a synced detection.
  static void update_synced(sm_db_t& db, sm_threat_t const& threat, std::int64_t history_id);

  // Null when there is no such row or its stored report does not parse.
  static std::shared_ptr<sm_threat_t> load_by_history_id(sm_db_t& db, std::int64_t history_id);
  static std::shared_ptr<sm_threat_t> load(sm_db_t& db, std::int64_t threat_id);

  // Whether the database already holds an equal detection of the same file.
  static bool is_duplicate(sm_db_t& db, sm_threat_t const& threat);
};
