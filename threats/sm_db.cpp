#include "threats/sm_db.h"

#include <sqlite3.h>

#include <atomic>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/thread.hpp>

#include "framework/log/cf_log.h"

namespace {

std::atomic<sm_db_t::busy_sleep_t> busy_sleep_fn{nullptr};

void trace_callback(void* prefix, char const* sql) {
  if (cf_log_threshold <= 0) cf_log(0, *static_cast<std::string const*>(prefix) + sql);
}

}  // namespace

sm_db_t::busy_sleep_t sm_db_t::set_busy_sleep(busy_sleep_t sleep) { return busy_sleep_fn.exchange(sleep); }

void sm_db_t::busy_sleep(int milliseconds) {
  if (busy_sleep_t sleep = busy_sleep_fn.load())
    sleep(milliseconds);
  else
    // An interruption point: stopping the database thread must not wait for another process
    // to let go of the database.
    boost::this_thread::sleep(boost::posix_time::milliseconds(milliseconds));
}

sm_db_t::sm_db_t(boost::filesystem::path const& path, std::string const& prefix) {
  sm_db_t opening;
  int const rc = sqlite3_open(path.c_str(), &opening.db);
  if (rc != SQLITE_OK) {
    // SQLite's message for the handle it returned; the temporary closes that handle.
    throw sm_db_error_t(sqlite3_errmsg(opening.db));
  }
  opening.log_prefix.reset(new std::string(prefix));

  {
    statement_t check(opening.db, "PRAGMA integrity_check;");
    bool passed = false;
    if (!check.step()) {
      passed = check.column_text(0) == "ok";
      if (!passed)
        while (!check.step()) {
        }
    }
    if (!passed) throw sm_db_error_t("Integrity check failed");
  }
  {
    statement_t check(opening.db, "PRAGMA foreign_key_check;");
    if (!check.step()) throw sm_db_error_t("Foreign key constraints check failed");
  }
  {
    statement_t on(opening.db, "PRAGMA foreign_keys=ON;");
    on.step();
  }
  swap(opening);
}

sm_db_t::~sm_db_t() {
  cache.clear();
  if (db) sqlite3_close(db);
}

void sm_db_t::swap(sm_db_t& other) noexcept {
  std::swap(db, other.db);
  std::swap(log_prefix, other.log_prefix);
}

void sm_db_t::set_trace(bool on) {
  if (on)
    sqlite3_trace(db, &trace_callback, log_prefix.get());
  else
    sqlite3_trace(db, nullptr, nullptr);
}

sm_db_t::statement_t& sm_db_t::statement(char const* sql) {
  auto found = cache.find(sql);
  if (found != cache.end()) return *found->second;
  std::unique_ptr<statement_t> prepared(new statement_t(db, sql));
  return *cache.emplace(sql, std::move(prepared)).first->second;
}

void sm_db_t::begin() {
  statement_t& st = statement("BEGIN IMMEDIATE TRANSACTION;");
  reset_guard_t guard(st);
  st.step();
}

void sm_db_t::commit() {
  try {
    statement_t& st = statement("COMMIT;");
    reset_guard_t guard(st);
    st.step();
  } catch (sm_db_error_t const&) {
    if (cf_log_threshold <= 4) cf_log(4, "Commit failed");
    throw;
  }
}

void sm_db_t::rollback() {
  statement_t& st = statement("ROLLBACK;");
  reset_guard_t guard(st);
  st.step();
}

void sm_db_t::check_version(std::string const& required) {
  std::string major;
  {
    statement_t query(db, "SELECT value FROM property WHERE name = 'version_major';");
    if (query.step() || query.column_is_null(0)) throw std::runtime_error("Unable to obtain version_major");
    major = query.column_text(0);
  }
  bool has_minor = false;
  std::string minor;
  {
    statement_t query(db, "SELECT value FROM property WHERE name = 'version_minor';");
    if (!query.step() && !query.column_is_null(0)) {
      has_minor = true;
      minor = query.column_text(0);
    }
  }
  if (major == required) return;
  std::string text = "Database version mismatch: current is " + major;
  if (has_minor) text += "." + minor;
  text += ", but " + required + ".x is required";
  throw std::runtime_error(text);
}

sm_db_t::statement_t::statement_t(sqlite3* db, char const* sql) {
  for (;;) {
    int const rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) return;
    if (rc != SQLITE_BUSY) sm_db_throw(db, rc, std::string("sqlite3_prepare_v2: ") + sql);
    busy_sleep(100);
  }
}

sm_db_t::statement_t::~statement_t() { sqlite3_finalize(stmt); }

void sm_db_t::statement_t::bind_int64(int n, std::int64_t value) {
  int const rc = sqlite3_bind_int64(stmt, n, value);
  if (rc != SQLITE_OK) sm_db_throw(sqlite3_db_handle(stmt), rc, "sqlite3_bind_int64");
}

void sm_db_t::statement_t::bind_blob(int n, std::string const& value) {
  int const rc = sqlite3_bind_blob(stmt, n, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) sm_db_throw(sqlite3_db_handle(stmt), rc, "sqlite3_bind_blob");
}

void sm_db_t::statement_t::bind_text(int n, std::string const& value) {
  int const rc = sqlite3_bind_text(stmt, n, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) sm_db_throw(sqlite3_db_handle(stmt), rc, "sqlite3_bind_text");
}

bool sm_db_t::statement_t::step() {
  for (;;) {
    int const rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return false;
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_BUSY) sm_db_throw(sqlite3_db_handle(stmt), rc, "step: sqlite3_step");
    busy_sleep(100);
  }
}

std::int64_t sm_db_t::statement_t::column_int64(int c) const { return sqlite3_column_int64(stmt, c); }

bool sm_db_t::statement_t::column_is_null(int c) const { return sqlite3_column_type(stmt, c) == SQLITE_NULL; }

std::string sm_db_t::statement_t::column_blob(int c) const {
  auto const* data = static_cast<char const*>(sqlite3_column_blob(stmt, c));
  int const size = sqlite3_column_bytes(stmt, c);
  return data && size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string sm_db_t::statement_t::column_text(int c) const {
  auto const* data = reinterpret_cast<char const*>(sqlite3_column_text(stmt, c));
  int const size = sqlite3_column_bytes(stmt, c);
  return data && size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

sm_db_t::reset_guard_t::~reset_guard_t() {
  sqlite3_clear_bindings(statement.get());
  sqlite3_reset(statement.get());
}
