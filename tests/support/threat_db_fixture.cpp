#include "tests/support/threat_db_fixture.h"

#include <boost/filesystem/operations.hpp>
#include <sqlite3.h>

#include <cstdlib>
#include <stdexcept>

namespace {

// A statement of the fixture's own, finalized on every path; any failure throws.
class stmt_t {
 public:
  stmt_t(sqlite3* db, std::string const& sql) : db(db) { check(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr)); }
  ~stmt_t() { sqlite3_finalize(st); }
  stmt_t(stmt_t const&) = delete;
  stmt_t& operator=(stmt_t const&) = delete;

  void bind(int n, std::int64_t v) { check(sqlite3_bind_int64(st, n, v)); }
  void bind(int n, std::string const& v, bool blob) {
    int const size = static_cast<int>(v.size());
    check(blob ? sqlite3_bind_blob(st, n, v.data(), size, SQLITE_TRANSIENT)
               : sqlite3_bind_text(st, n, v.data(), size, SQLITE_TRANSIENT));
  }
  // Whether a row with a non-NULL first column is ready.
  bool step() {
    int const rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) check(rc);
    return rc == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL;
  }
  sqlite3_stmt* get() const { return st; }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) throw std::runtime_error(std::string("threat_db_fixture_t: ") + sqlite3_errmsg(db));
  }
  sqlite3* db;
  sqlite3_stmt* st = nullptr;
};

}  // namespace

threat_db_fixture_t::threat_db_fixture_t() {
  std::string name = "/tmp/qn-threats-XXXXXX";
  if (!mkdtemp(&name[0])) throw std::runtime_error("threat_db_fixture_t: mkdtemp failed");
  dir = name;
  file = dir / "threats.db";
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

threat_db_fixture_t::~threat_db_fixture_t() {
  disconnect();
  boost::system::error_code ignored;
  boost::filesystem::remove_all(dir, ignored);
}

sqlite3* threat_db_fixture_t::connection() {
  if (!db) {
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
      std::string const message = sqlite3_errmsg(db);
      disconnect();
      throw std::runtime_error("threat_db_fixture_t: open: " + message);
    }
    // Filling is the fixture's business: no waiting for the disk (the file's format is unchanged).
    sqlite3_exec(db, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
  }
  return db;
}

void threat_db_fixture_t::disconnect() {
  sqlite3_close(db);
  db = nullptr;
}

void threat_db_fixture_t::exec(std::string const& sql) {
  char* error = nullptr;
  if (sqlite3_exec(connection(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string const message = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error("threat_db_fixture_t: " + sql + ": " + message);
  }
}

std::int64_t threat_db_fixture_t::add_threat(boost::filesystem::path const& path, std::uint64_t dev, std::uint64_t ino,
                                             bool path_as_text) {
  {
    stmt_t st(connection(), "INSERT INTO threat (path) VALUES (?1);");
    st.bind(1, path.native(), !path_as_text);
    st.step();
  }
  std::int64_t const id = sqlite3_last_insert_rowid(db);
  stmt_t st(db, "INSERT INTO session (threat_id, dev, ino) VALUES (?1, ?2, ?3);");
  st.bind(1, id);
  st.bind(2, static_cast<std::int64_t>(dev));
  st.bind(3, static_cast<std::int64_t>(ino));
  st.step();
  return id;
}

std::int64_t threat_db_fixture_t::add_history(history_row_t const& row) {
  stmt_t st(connection(),
            "INSERT INTO history (threat_id, moment, event, origin, tag, locked, neutralized, scanreport)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8);");
  st.bind(1, row.threat_id);
  st.bind(2, row.moment);
  st.bind(3, row.event);
  st.bind(4, row.origin);
  if (row.tag) st.bind(5, *row.tag, false);
  if (row.locked) st.bind(6, *row.locked);
  st.bind(7, row.neutralized ? 1 : 0);
  if (row.scanreport) st.bind(8, *row.scanreport, true);
  st.step();
  return sqlite3_last_insert_rowid(db);
}

std::optional<std::string> threat_db_fixture_t::query_text(std::string const& sql) {
  stmt_t st(connection(), sql);
  if (!st.step()) return std::nullopt;
  auto const* data = static_cast<char const*>(sqlite3_column_blob(st.get(), 0));
  return std::string(data, data ? static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0)) : 0);
}

std::optional<std::int64_t> threat_db_fixture_t::query_int(std::string const& sql) {
  stmt_t st(connection(), sql);
  if (!st.step()) return std::nullopt;
  return sqlite3_column_int64(st.get(), 0);
}

qn::ScanReport threat_db_fixture_t::report(std::string const& object, std::string const& virus) {
  qn::ScanReport r;
  r.set_object(object);
  if (!virus.empty()) {
    qn::Virus* v = r.add_virus();
    v->set_type(qn::SE_KNOWN_VIRUS);
    v->set_name(virus);
  }
  return r;
}

std::string threat_db_fixture_t::report_blob(std::string const& object, std::string const& virus) {
  return report(object, virus).SerializeAsString();
}

std::set<std::string> prepared_statements(sqlite3* db) {
  std::set<std::string> texts;
  for (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr); st; st = sqlite3_next_stmt(db, st))
    texts.insert(sqlite3_sql(st));
  return texts;
}
