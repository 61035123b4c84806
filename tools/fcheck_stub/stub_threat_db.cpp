#include "tools/fcheck_stub/stub_threat_db.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

namespace {

// Long enough for the daemon's short transactions, short enough not to freeze the stand-in.
constexpr int busy_timeout_ms = 2000;

typedef std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement_t;

[[noreturn]] void fail(sqlite3* db, char const* what) {
  throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

statement_t prepare(sqlite3* db, char const* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) fail(db, "prepare");
  return statement_t(raw, sqlite3_finalize);
}

void bind_int(sqlite3* db, statement_t const& st, int index, std::int64_t value) {
  if (sqlite3_bind_int64(st.get(), index, value) != SQLITE_OK) fail(db, "bind");
}

void bind_blob(sqlite3* db, statement_t const& st, int index, std::string const& value) {
  if (sqlite3_bind_blob64(st.get(), index, value.data(), value.size(), SQLITE_TRANSIENT) != SQLITE_OK) fail(db, "bind");
}

// True with a row, false when done.
bool step(sqlite3* db, statement_t const& st) {
  int const rc = sqlite3_step(st.get());
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) fail(db, "step");
  return false;
}

std::int64_t insert(sqlite3* db, statement_t const& st) {
  step(db, st);
  return sqlite3_last_insert_rowid(db);
}

}  // namespace

stub_threat_db_t::stub_threat_db_t(std::string const& path) : file(boost::filesystem::absolute(path).string()) {
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    std::string const what = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + file + ": " + what);
  }
  try {
    sqlite3_busy_timeout(db, busy_timeout_ms);
    exec("PRAGMA foreign_keys=ON;");
    exec(
        "CREATE TABLE IF NOT EXISTS threat (threat_id INTEGER PRIMARY KEY, path BLOB NOT NULL,"
        " remote_ip TEXT, remote_user TEXT, remote_domain TEXT);"
        "CREATE TABLE IF NOT EXISTS history (history_id INTEGER PRIMARY KEY,"
        " threat_id INTEGER NOT NULL REFERENCES threat(threat_id),"
        " moment INTEGER NOT NULL, event INTEGER NOT NULL, origin INTEGER NOT NULL,"
        " tag TEXT, locked INTEGER, neutralized INTEGER NOT NULL DEFAULT 0, scanreport BLOB);"
        "CREATE INDEX IF NOT EXISTS history_threat ON history(threat_id);"
        "CREATE TABLE IF NOT EXISTS session (threat_id INTEGER NOT NULL REFERENCES threat(threat_id),"
        " dev INTEGER NOT NULL, ino INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS property (name TEXT PRIMARY KEY, value TEXT);"
        "INSERT OR IGNORE INTO property VALUES ('version_major', '1');");
  } catch (std::runtime_error const& e) {
    sqlite3_close(db);
    throw std::runtime_error(file + ": " + e.what());
  }
}

stub_threat_db_t::~stub_threat_db_t() { sqlite3_close(db); }

void stub_threat_db_t::exec(char const* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return;
  std::string const what = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  throw std::runtime_error(what);
}

std::int64_t stub_threat_db_t::record_detection(std::string const& path, std::uint64_t dev, std::uint64_t ino,
                                                qn::ScanReport const& report, std::uint32_t origin, std::int64_t moment,
                                                bool reuse, std::int64_t& threat_id) {
  exec("BEGIN IMMEDIATE TRANSACTION;");
  try {
    threat_id = -1;
    if (reuse) {
      statement_t st = prepare(db,
                               "SELECT t.threat_id FROM threat t JOIN session s ON s.threat_id = t.threat_id"
                               " WHERE t.path = ?1 AND s.dev = ?2 AND s.ino = ?3 AND NOT EXISTS"
                               " (SELECT 1 FROM history WHERE threat_id = t.threat_id AND neutralized)"
                               " ORDER BY t.threat_id DESC LIMIT 1;");
      bind_blob(db, st, 1, path);
      bind_int(db, st, 2, static_cast<std::int64_t>(dev));
      bind_int(db, st, 3, static_cast<std::int64_t>(ino));
      if (step(db, st)) threat_id = sqlite3_column_int64(st.get(), 0);
    }
    if (threat_id < 0) {
      statement_t st = prepare(db, "INSERT INTO threat (path) VALUES (?1);");
      bind_blob(db, st, 1, path);
      threat_id = insert(db, st);
      st = prepare(db, "INSERT INTO session (threat_id, dev, ino) VALUES (?1, ?2, ?3);");
      bind_int(db, st, 1, threat_id);
      bind_int(db, st, 2, static_cast<std::int64_t>(dev));
      bind_int(db, st, 3, static_cast<std::int64_t>(ino));
      insert(db, st);
    }
    statement_t st = prepare(db,
                             "INSERT INTO history (threat_id, moment, event, origin, tag, locked, neutralized,"
                             " scanreport) VALUES (?1, ?2, 1, ?3, NULL, NULL, 0, ?4);");
    bind_int(db, st, 1, threat_id);
    bind_int(db, st, 2, moment);
    bind_int(db, st, 3, origin);
    bind_blob(db, st, 4, report.SerializeAsString());
    std::int64_t const history_id = insert(db, st);
    exec("COMMIT;");
    return history_id;
  } catch (std::runtime_error const&) {
    sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
    throw;
  }
}

std::int64_t stub_threat_db_t::record_neutralized(std::int64_t threat_id, std::uint32_t event, std::uint32_t origin,
                                                  std::int64_t moment) {
  statement_t st = prepare(db,
                           "INSERT INTO history (threat_id, moment, event, origin, neutralized)"
                           " VALUES (?1, ?2, ?3, ?4, 1);");
  bind_int(db, st, 1, threat_id);
  bind_int(db, st, 2, moment);
  bind_int(db, st, 3, event);
  bind_int(db, st, 4, origin);
  return insert(db, st);
}

std::optional<stub_threat_db_t::threat_t> stub_threat_db_t::find(std::int64_t threat_id) {
  statement_t st = prepare(db,
                           "SELECT path, EXISTS(SELECT 1 FROM history WHERE threat_id = ?1 AND neutralized)"
                           " FROM threat WHERE threat_id = ?1;");
  bind_int(db, st, 1, threat_id);
  if (!step(db, st)) return std::nullopt;
  threat_t threat;
  void const* blob = sqlite3_column_blob(st.get(), 0);
  if (blob)
    threat.path.assign(static_cast<char const*>(blob), static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0)));
  threat.neutralized = sqlite3_column_int64(st.get(), 1) != 0;
  return threat;
}
