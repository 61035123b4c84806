#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan_report.pb.h"
#include "tests/support/sandbox.h"

struct sqlite3;

// A sandbox folder holding a threat database as the file checker lays it out: the tables
// threat, history, session and property (version_major '1'), with foreign keys from history and
// session to threat, filled through a connection of the fixture's own. Removed afterwards.
class threat_db_fixture_t {
 public:
  // By default a detection (event 1) by this daemon (origin 40). nullopt: NULL.
  struct history_row_t {
    std::int64_t threat_id, moment;
    std::optional<std::string> tag = {};
    std::optional<std::int64_t> locked = {};
    std::optional<std::string> scanreport = {};  // serialized bytes
    std::int64_t event = 1, origin = 40;
    bool neutralized = false;
  };

  threat_db_fixture_t();
  ~threat_db_fixture_t() { disconnect(); }
  threat_db_fixture_t(threat_db_fixture_t const&) = delete;
  threat_db_fixture_t& operator=(threat_db_fixture_t const&) = delete;

  boost::filesystem::path const& sandbox() const { return dir; }
  boost::filesystem::path const& db_path() const { return file; }

  // Runs SQL on the fixture's connection (opened on first use; it waits up to 20 s for a lock); throws
  // on failure.
  void exec(std::string const& sql);
  // Closes the fixture's connection, e.g. before the file is damaged on purpose.
  void disconnect();

  // A threat row and its session row; the path goes in as a blob (as text when asked, which
  // the daemon's blob comparisons never match). Returns the threat id.
  std::int64_t add_threat(std::string const& path, std::uint64_t dev, std::uint64_t ino, bool path_as_text = false);
  std::int64_t add_history(history_row_t const& row);
  // A row by the file checker that neutralizes the threat.
  static history_row_t neutralizing(std::int64_t threat_id, std::int64_t moment) {
    return {threat_id, moment, {}, {}, {}, 3, 1, true};
  }

  // Threats in order, each with its history rows (whose threat ids are ignored): with ids 1, 2, ...
  // in a fresh database, their history rows likewise.
  struct threat_rows_t {
    std::string path;
    std::uint64_t dev, ino;
    std::vector<history_row_t> history;
    bool path_as_text = false;
  };
  void fill(std::vector<threat_rows_t> const& threats);

  // The first column of the first row: nullopt when there is no row or the value is NULL.
  std::optional<std::string> query_text(std::string const& sql);

  // A report of one object with one known virus.
  static qn::ScanReport report(std::string const& object, std::string const& virus = "Standard-Test-File");
  static std::string report_blob(std::string const& object) { return report(object).SerializeAsString(); }

 private:
  sqlite3* connection();

  test_sandbox_t box;
  boost::filesystem::path dir = box.path(), file = dir / "threats.db";
  sqlite3* db = nullptr;
};
