#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "scan_report.pb.h"
#include "tests/support/sandbox.h"

struct sqlite3;

// A sandbox folder holding a threat database as the file checker lays it out: the tables
// threat, history, session and property (version_major '1'), with foreign keys from history and
// session to threat, filled through a connection of the fixture's own. Removed afterwards.
class threat_db_fixture_t {
 public:
  // With event 1 and origin 40: a detection by this daemon. nullopt: NULL.
  struct history_row_t {
    history_row_t(std::int64_t threat_id, std::int64_t moment, std::optional<std::string> tag = std::nullopt,
                  std::optional<std::int64_t> locked = std::nullopt,
                  std::optional<std::string> scanreport = std::nullopt,  // serialized bytes
                  std::int64_t event = 1, std::int64_t origin = 40, bool neutralized = false)
        : threat_id(threat_id),
          moment(moment),
          tag(std::move(tag)),
          locked(locked),
          scanreport(std::move(scanreport)),
          event(event),
          origin(origin),
          neutralized(neutralized) {}

    std::int64_t threat_id, moment;
    std::optional<std::string> tag;
    std::optional<std::int64_t> locked;
    std::optional<std::string> scanreport;
    std::int64_t event, origin;
    bool neutralized;
  };

  threat_db_fixture_t();
  ~threat_db_fixture_t();
  threat_db_fixture_t(threat_db_fixture_t const&) = delete;
  threat_db_fixture_t& operator=(threat_db_fixture_t const&) = delete;

  boost::filesystem::path const& sandbox() const { return dir; }  // removed afterwards
  boost::filesystem::path const& db_path() const { return file; }

  // Runs SQL on the fixture's connection (opened on first use, without a busy timeout); throws
  // on failure.
  void exec(std::string const& sql);
  // Closes the fixture's connection, e.g. before the file is damaged on purpose.
  void disconnect();

  // A threat row and its session row; the path goes in as a blob (as text when asked, which
  // the daemon's blob comparisons never match). Returns the threat id.
  std::int64_t add_threat(boost::filesystem::path const& path, std::uint64_t dev, std::uint64_t ino,
                          bool path_as_text = false);
  std::int64_t add_history(history_row_t const& row);

  // First column of the first row: nullopt when there is no row or the value is NULL.
  std::optional<std::string> query_text(std::string const& sql);
  std::optional<std::int64_t> query_int(std::string const& sql);

  // A report of one object with one virus (no virus when the name is empty).
  static qn::ScanReport report(std::string const& object, std::string const& virus = "Standard-Test-File");
  static std::string report_blob(std::string const& object, std::string const& virus = "Standard-Test-File");

 private:
  sqlite3* connection();

  test_sandbox_t box;
  boost::filesystem::path dir;
  boost::filesystem::path file;
  sqlite3* db = nullptr;
};

// The SQL texts of the statements a connection holds prepared (its statement cache, in effect).
std::set<std::string> prepared_statements(sqlite3* db);
