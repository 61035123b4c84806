#pragma once

// The stand-in's threats: provisional ones held in memory from a scan until they are synced or
// ignored, recorded ones in the threat database, and the operations on their files.

#include <cstdint>
#include <map>
#include <string>

#include "action.pb.h"
#include "error.pb.h"
#include "scan_report.pb.h"
#include "tools/fcheck_stub/stub_options.h"
#include "tools/fcheck_stub/stub_scanner.h"
#include "tools/fcheck_stub/stub_threat_db.h"

class stub_threat_keeper_t {
 public:
  struct outcome_t {
    qn::ErrorCode code = qn::EC_OK;
    std::string what;             // why it failed
    std::int64_t threat_id = 0;   // the recorded threat
    std::int64_t history_id = 0;  // the history row written, 0 for none
  };

  // History events of the rows an operation writes; 1 is a detection.
  enum event_t : std::uint32_t { event_cured = 2, event_quarantined = 3, event_deleted = 4 };

  stub_threat_keeper_t(stub_options_t const& options, stub_scanner_t const& scanner, stub_threat_db_t& db)
      : options(options), scanner(scanner), db(db) {}

  // Holds a detection under a new provisional (negative) id.
  std::int64_t hold(std::string const& path, std::uint64_t dev, std::uint64_t ino, qn::ScanReport const& report);
  // Writes a provisional threat into the database and forgets it.
  outcome_t sync(std::int64_t threat_id, std::uint32_t origin);
  // Ignore releases a provisional threat; cure, quarantine, delete and the cure-or operations act
  // on a recorded threat's file and write a neutralized row when they succeed.
  outcome_t apply(std::int64_t threat_id, qn::ThreatOp op, std::uint32_t origin);

 private:
  struct provisional_t {
    std::string path;
    std::uint64_t dev;
    std::uint64_t ino;
    qn::ScanReport report;
  };

  std::int64_t moment() const;
  qn::ErrorCode act(std::int64_t threat_id, std::string const& path, qn::ThreatOp op, std::uint32_t& event,
                    std::string& what);
  qn::ErrorCode quarantine(std::int64_t threat_id, std::string const& path, std::string& what);

  stub_options_t const& options;
  stub_scanner_t const& scanner;
  stub_threat_db_t& db;
  std::map<std::int64_t, provisional_t> provisional;
  std::int64_t next_provisional = -1;
};
