#include "tests/support/threat_db_fixture.h"

#include <sqlite3.h>

#include <stdexcept>

namespace {

// NULL, or the bytes as a blob literal (cast to text when asked).
std::string literal(std::optional<std::string> const& v, bool text = false) {
  if (!v) return "NULL";
  std::string out = "X'";
  for (unsigned char c : *v) out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return text ? "CAST(" + out + "' AS TEXT)" : out + "'";
}

}  // namespace

threat_db_fixture_t::threat_db_fixture_t() {
  exec(
      "CREATE TABLE threat (threat_id INTEGER PRIMARY KEY, path BLOB NOT NULL,"
      " remote_ip TEXT, remote_user TEXT, remote_domain TEXT);"
      "CREATE TABLE history (history_id INTEGER PRIMARY KEY,"
      " threat_id INTEGER NOT NULL REFERENCES threat(threat_id),"
      " moment INTEGER NOT NULL, event INTEGER NOT NULL, origin INTEGER NOT NULL,"
      " tag TEXT, locked INTEGER, neutralized INTEGER NOT NULL DEFAULT 0, scanreport BLOB);"
      "CREATE INDEX history_threat ON history(threat_id);"
      "CREATE TABLE session (threat_id INTEGER NOT NULL REFERENCES threat(threat_id),"
      " dev INTEGER NOT NULL, ino INTEGER NOT NULL);"
      "CREATE TABLE property (name TEXT PRIMARY KEY, value TEXT);"
      "INSERT INTO property VALUES ('version_major', '1');");
}

sqlite3* threat_db_fixture_t::connection() {
  if (db) return db;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
    std::string const message = sqlite3_errmsg(db);
    disconnect();
    throw std::runtime_error("threat_db_fixture_t: open: " + message);
  }
  // Filling is the fixture's business: no waiting for the disk (the file's format is unchanged).
  sqlite3_exec(db, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
  // A commit waits for the daemon's readers to finish their statement.
  sqlite3_busy_timeout(db, 20000);
  return db;
}

void threat_db_fixture_t::disconnect() { sqlite3_close(db), db = nullptr; }

void threat_db_fixture_t::exec(std::string const& sql) {
  char* error = nullptr;
  if (sqlite3_exec(connection(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string const message = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error("threat_db_fixture_t: " + sql + ": " + message);
  }
}

std::int64_t threat_db_fixture_t::add_threat(std::string const& path, std::uint64_t dev, std::uint64_t ino,
                                             bool path_as_text) {
  exec("INSERT INTO threat (path) VALUES (" + literal(path, path_as_text) + ");");
  // The file checker stores the numbers' signed 64-bit images.
  std::string const id = std::to_string(sqlite3_last_insert_rowid(db));
  exec("INSERT INTO session VALUES (" + id + ", " + std::to_string(std::int64_t(dev)) + ", " +
       std::to_string(std::int64_t(ino)) + ");");
  return std::stoll(id);
}

std::int64_t threat_db_fixture_t::add_history(history_row_t const& r) {
  exec("INSERT INTO history (threat_id, moment, event, origin, tag, locked, neutralized, scanreport) VALUES (" +
       std::to_string(r.threat_id) + ", " + std::to_string(r.moment) + ", " + std::to_string(r.event) + ", " +
       std::to_string(r.origin) + ", " + literal(r.tag, true) + ", " + (r.locked ? std::to_string(*r.locked) : "NULL") +
       ", " + (r.neutralized ? "1, " : "0, ") + literal(r.scanreport) + ");");
  return sqlite3_last_insert_rowid(db);
}

void threat_db_fixture_t::fill(std::vector<threat_rows_t> const& threats) {
  for (threat_rows_t const& t : threats) {
    std::int64_t const id = add_threat(t.path, t.dev, t.ino, t.path_as_text);
    for (history_row_t row : t.history) add_history((row.threat_id = id, row));
  }
}

std::optional<std::string> threat_db_fixture_t::query_text(std::string const& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(connection(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw std::runtime_error("threat_db_fixture_t: " + sql + ": " + sqlite3_errmsg(db));
  std::optional<std::string> value;
  if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
    value = std::string(static_cast<char const*>(sqlite3_column_blob(st, 0)), sqlite3_column_bytes(st, 0));
  sqlite3_finalize(st);
  return value;
}

qn::ScanReport threat_db_fixture_t::report(std::string const& object, std::string const& virus) {
  qn::ScanReport r;
  r.set_object(object);
  qn::Virus* v = r.add_virus();
  v->set_type(qn::SE_KNOWN_VIRUS);
  v->set_name(virus);
  return r;
}
