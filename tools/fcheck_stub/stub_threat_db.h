#pragma once

// The threat database as the file checker keeps it: an SQLite file with the tables threat,
// history, session and property, created when missing.

#include <cstdint>
#include <optional>
#include <string>

#include "scan_report.pb.h"

struct sqlite3;

class stub_threat_db_t {
 public:
  struct threat_t {
    std::string path;
    bool neutralized = false;
  };

  // Opens the file, creating it and its tables when missing. Throws std::runtime_error.
  explicit stub_threat_db_t(std::string const& path);
  ~stub_threat_db_t();
  stub_threat_db_t(stub_threat_db_t const&) = delete;
  stub_threat_db_t& operator=(stub_threat_db_t const&) = delete;

  // The absolute path of the file.
  std::string const& path() const { return file; }

  // Records a detection in one transaction: a threat row (or, with `reuse`, the threat of the
  // same path, device and inode that is not neutralized), its session row and a history row of
  // event 1. Returns the history id; sets threat_id. Throws std::runtime_error.
  std::int64_t record_detection(std::string const& path, std::uint64_t dev, std::uint64_t ino,
                                qn::ScanReport const& report, std::uint32_t origin, std::int64_t moment, bool reuse,
                                std::int64_t& threat_id);
  // A history row of the given event that marks the threat neutralized; returns its id.
  std::int64_t record_neutralized(std::int64_t threat_id, std::uint32_t event, std::uint32_t origin,
                                  std::int64_t moment);
  std::optional<threat_t> find(std::int64_t threat_id);

 private:
  void exec(char const* sql);

  std::string file;
  sqlite3* db = nullptr;
};
