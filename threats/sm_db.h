#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/noncopyable.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "threats/sm_db_error.h"

struct sqlite3;
struct sqlite3_stmt;

// One open connection to the threat database. Used only on the database thread.
class sm_db_t : private boost::noncopyable {
 public:
  class statement_t;
  class reset_guard_t;

  // What the layer calls to wait 100 ms while another connection holds a lock.
  using busy_sleep_t = void (*)(int milliseconds);

  // Opens (creating a missing file), runs the integrity and foreign-key checks and turns
  // foreign keys on; throws sm_db_error_t and leaves nothing open on failure.
  sm_db_t(boost::filesystem::path const& path, std::string const& log_prefix);
  ~sm_db_t();

  // Logs every statement SQLite runs at Debug, after the log prefix.
  void set_trace(bool on);

  // The cached statement for that exact text, prepared on first use. Use it inside a
  // reset_guard_t.
  statement_t& statement(char const* sql);

  void begin();
  void commit();
  void rollback();

  // Throws std::runtime_error unless property version_major is exactly `required`.
  void check_version(std::string const& required);

  sqlite3* handle() const { return db; }

  // Replaces the busy wait (by default a sleep that stopping the worker thread interrupts, which
  // throws boost::thread_interrupted out of the waiting call); returns the previous one.
  static busy_sleep_t set_busy_sleep(busy_sleep_t sleep);

 private:
  static void busy_sleep(int milliseconds);

  sm_db_t() = default;
  void swap(sm_db_t& other) noexcept;

  sqlite3* db = nullptr;
  // Its address is the trace callback's argument, so it never moves.
  std::unique_ptr<std::string> log_prefix;
  std::map<std::string, std::unique_ptr<statement_t>> cache;
};

// Owns one prepared statement.
class sm_db_t::statement_t : private boost::noncopyable {
 public:
  // Prepares, waiting while the database is locked; throws sm_db_error_t.
  statement_t(sqlite3* db, char const* sql);
  ~statement_t();

  // Parameters are numbered from 1.
  void bind_int64(int n, std::int64_t value);
  void bind_blob(int n, std::string const& value);
  void bind_text(int n, std::string const& value);

  // false: a row is ready; true: the statement is done. Waits while the database is locked,
  // until the worker thread is interrupted.
  bool step();

  // Columns are numbered from 0.
  std::int64_t column_int64(int c) const;
  bool column_is_null(int c) const;
  std::string column_blob(int c) const;
  std::string column_text(int c) const;

  sqlite3_stmt* get() const { return stmt; }

 private:
  sqlite3_stmt* stmt = nullptr;
};

// Clears the bindings of a statement and rewinds it when the scope ends, whatever happened.
class sm_db_t::reset_guard_t : private boost::noncopyable {
 public:
  explicit reset_guard_t(statement_t& statement) : statement(statement) {}
  ~reset_guard_t();

 private:
  statement_t& statement;
};
