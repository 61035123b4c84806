#include "threats/sm_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/threat_db_fixture.h"
#include "tests/threats/log_capture.h"

namespace {

char const major_query[] = "SELECT value FROM property WHERE name = 'version_major';";

template <class Exception, class F>
std::string failure_text(F&& f) {
  try {
    f();
  } catch (Exception const& e) {
    return e.what();
  }
  return "(no exception)";
}

// Busy waits seen by the layer; a test may act on each one.
struct busy_record_t {
  std::vector<int> waits;
  std::function<void(std::size_t)> on_wait;
};
busy_record_t* busy_record = nullptr;

void record_busy_sleep(int ms) {
  busy_record->waits.push_back(ms);
  if (busy_record->on_wait) busy_record->on_wait(busy_record->waits.size());
}

class busy_hook_t {
 public:
  explicit busy_hook_t(sm_db_t::busy_sleep_t fn = &record_busy_sleep) {
    busy_record = &record;
    previous = sm_db_t::set_busy_sleep(fn);
  }
  ~busy_hook_t() {
    sm_db_t::set_busy_sleep(previous);
    busy_record = nullptr;
  }
  busy_record_t record;

 private:
  sm_db_t::busy_sleep_t previous;
};

class sm_db_test : public ::testing::Test {
 protected:
  void SetUp() override { log = log_capture_t::install(); }
  std::shared_ptr<log_capture_t> log;
  threat_db_fixture_t fixture;
};

TEST(sm_db_throw_test, text_names_call_code_in_hex_and_message) {
  struct row_t {
    int code;
    std::string expected;
  };
  std::vector<row_t> const rows = {
      {19, "'what' -> (result code 0x13: constraint failed)"},
      {5, "'what' -> (result code 0x5: database is locked)"},
      {1, "'what' -> (result code 0x1: SQL logic error)"},
      {26, "'what' -> (result code 0x1a: file is not a database)"},
      {0, "'what' -> (result code 0x0: not an error)"},
  };
  for (auto const& row : rows) {
    std::string const text = failure_text<sm_db_error_t>([&] { sm_db_throw(nullptr, row.code, "what"); });
    EXPECT_EQ(row.expected, text) << row.code;
  }
}

TEST(sm_db_throw_test, handle_gives_its_own_last_message) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &db));
  sqlite3_exec(db, "SELECT * FROM nowhere;", nullptr, nullptr, nullptr);
  std::string const text = failure_text<sm_db_error_t>([&] { sm_db_throw(db, 1, "x: y"); });
  sqlite3_close(db);
  EXPECT_EQ("'x: y' -> (result code 0x1: no such table: nowhere)", text);
}

TEST_F(sm_db_test, missing_file_is_created_and_fails_the_version_prepare) {
  boost::filesystem::path const path = fixture.sandbox() / "new.db";
  sm_db_t db(path, "Threats base: ");
  EXPECT_TRUE(boost::filesystem::exists(path));
  try {
    db.check_version("1");
    FAIL() << "no exception";
  } catch (sm_db_error_t const& e) {
    EXPECT_EQ(std::string("'sqlite3_prepare_v2: ") + major_query + "' -> (result code 0x1: no such table: property)",
              e.what());
  }
}

TEST_F(sm_db_test, unopenable_path_fails_with_sqlites_message_alone) {
  std::string const text =
      failure_text<sm_db_error_t>([&] { sm_db_t db(fixture.sandbox() / "no-such-dir" / "threats.db", "p: "); });
  EXPECT_EQ("unable to open database file", text);
}

TEST_F(sm_db_test, file_that_is_no_database_fails_in_the_integrity_prepare) {
  boost::filesystem::path const path = fixture.sandbox() / "garbage.db";
  std::ofstream(path.string()) << std::string(4096, 'x');
  std::string const text = failure_text<sm_db_error_t>([&] { sm_db_t db(path, "p: "); });
  EXPECT_EQ("'sqlite3_prepare_v2: PRAGMA integrity_check;' -> (result code 0x1a: file is not a database)", text);
}

TEST_F(sm_db_test, damaged_index_fails_the_integrity_check) {
  // The index holds the values of one column while the schema claims another: every row is
  // then missing from it, and the check reports several rows.
  fixture.exec(
      "CREATE TABLE t (a TEXT, b TEXT); CREATE INDEX t_a ON t(a);"
      "INSERT INTO t VALUES ('a1', 'b1'), ('a2', 'b2'), ('a3', 'b3');"
      "PRAGMA writable_schema=ON;"
      "UPDATE sqlite_master SET sql = 'CREATE INDEX t_a ON t(b)' WHERE name = 't_a';");
  fixture.disconnect();
  std::string const text = failure_text<sm_db_error_t>([&] { sm_db_t db(fixture.db_path(), "p: "); });
  EXPECT_EQ("Integrity check failed", text);
  // Nothing stays open: the file can be written at once.
  fixture.exec("BEGIN EXCLUSIVE; COMMIT;");
}

TEST_F(sm_db_test, stored_foreign_key_violation_fails_the_open) {
  fixture.exec("INSERT INTO session (threat_id, dev, ino) VALUES (77, 1, 2);");
  std::string const text = failure_text<sm_db_error_t>([&] { sm_db_t db(fixture.db_path(), "p: "); });
  EXPECT_EQ("Foreign key constraints check failed", text);
}

TEST_F(sm_db_test, foreign_keys_are_enforced_after_the_open) {
  std::int64_t const threat = fixture.add_threat("/s/f", 1, 2);
  fixture.add_history(threat_db_fixture_t::detection(threat, 10));
  sm_db_t db(fixture.db_path(), "p: ");
  EXPECT_TRUE(prepared_statements(db.handle()).empty());  // the checks are not cached

  sm_db_t::statement_t& st = db.statement("UPDATE history SET threat_id = 999;");
  std::string const text = failure_text<sm_db_error_t>([&] {
    sm_db_t::reset_guard_t guard(st);
    st.step();
  });
  EXPECT_EQ("'step: sqlite3_step' -> (result code 0x13: FOREIGN KEY constraint failed)", text);
  EXPECT_EQ(threat, fixture.query_int("SELECT threat_id FROM history;"));
}

struct version_case_t {
  std::optional<std::string> major;
  std::optional<std::string> minor;
  std::string expected;  // empty: passes
};

TEST_F(sm_db_test, version_check) {
  std::vector<version_case_t> const cases = {
      {"1", std::nullopt, ""},
      {"1", "7", ""},
      {"1", "", ""},
      {"1.0", std::nullopt, "Database version mismatch: current is 1.0, but 1.x is required"},
      {"01", std::nullopt, "Database version mismatch: current is 01, but 1.x is required"},
      {"1 ", std::nullopt, "Database version mismatch: current is 1 , but 1.x is required"},
      {"2", "3", "Database version mismatch: current is 2.3, but 1.x is required"},
      {"2", std::nullopt, "Database version mismatch: current is 2, but 1.x is required"},
      {"", "0", "Database version mismatch: current is .0, but 1.x is required"},
      {std::nullopt, "1", "Unable to obtain version_major"},
  };
  for (auto const& c : cases) {
    fixture.set_property("version_major", c.major);
    fixture.set_property("version_minor", c.minor);
    sm_db_t db(fixture.db_path(), "p: ");
    std::string text;
    bool layer_error = false;
    try {
      db.check_version("1");
    } catch (sm_db_error_t const& e) {
      layer_error = true;
      text = e.what();
    } catch (std::runtime_error const& e) {
      text = e.what();
    }
    EXPECT_EQ(c.expected, text) << (c.major ? *c.major : "(none)");
    EXPECT_FALSE(layer_error);
    EXPECT_TRUE(prepared_statements(db.handle()).empty());
  }
}

TEST_F(sm_db_test, null_versions) {
  fixture.exec("DELETE FROM property; INSERT INTO property VALUES ('version_major', NULL);");
  sm_db_t db(fixture.db_path(), "p: ");
  EXPECT_EQ("Unable to obtain version_major", failure_text<std::runtime_error>([&] { db.check_version("1"); }));

  fixture.exec(
      "DELETE FROM property; INSERT INTO property VALUES ('version_major', '3'),"
      " ('version_minor', NULL);");
  EXPECT_EQ("Database version mismatch: current is 3, but 2.x is required",
            failure_text<std::runtime_error>([&] { db.check_version("2"); }));
  EXPECT_NO_THROW(db.check_version("3"));
}

TEST_F(sm_db_test, statements_are_cached_by_exact_text) {
  sm_db_t db(fixture.db_path(), "p: ");
  sm_db_t::statement_t& a = db.statement("SELECT 1;");
  EXPECT_EQ(&a, &db.statement(std::string("SELECT 1;").c_str()));
  sm_db_t::statement_t& b = db.statement("SELECT 1 ;");
  EXPECT_NE(&a, &b);
  EXPECT_EQ((std::set<std::string>{"SELECT 1;", "SELECT 1 ;"}), prepared_statements(db.handle()));
}

TEST_F(sm_db_test, failed_prepare_caches_nothing) {
  sm_db_t db(fixture.db_path(), "p: ");
  for (int round = 0; round < 2; ++round) {
    std::string const text = failure_text<sm_db_error_t>([&] { db.statement("SELECT x FROM nowhere;"); });
    EXPECT_EQ("'sqlite3_prepare_v2: SELECT x FROM nowhere;' -> (result code 0x1: no such table: nowhere)", text);
  }
  EXPECT_TRUE(prepared_statements(db.handle()).empty());
}

TEST_F(sm_db_test, parameters_not_bound_again_read_as_null) {
  sm_db_t db(fixture.db_path(), "p: ");
  char const sql[] = "SELECT ?1 IS NULL, ?1;";
  {
    sm_db_t::statement_t& st = db.statement(sql);
    sm_db_t::reset_guard_t guard(st);
    st.bind_int64(1, 5);
    ASSERT_FALSE(st.step());
    EXPECT_EQ(0, st.column_int64(0));
    EXPECT_EQ(5, st.column_int64(1));
  }
  {
    sm_db_t::statement_t& st = db.statement(sql);
    sm_db_t::reset_guard_t guard(st);
    ASSERT_FALSE(st.step());
    EXPECT_EQ(1, st.column_int64(0));
    EXPECT_TRUE(st.column_is_null(1));
  }
}

TEST_F(sm_db_test, guard_rewinds_after_an_exception) {
  fixture.exec("CREATE TABLE n (v INTEGER); INSERT INTO n VALUES (1), (2), (3);");
  sm_db_t db(fixture.db_path(), "p: ");
  char const sql[] = "SELECT v FROM n ORDER BY v;";
  try {
    sm_db_t::statement_t& st = db.statement(sql);
    sm_db_t::reset_guard_t guard(st);
    ASSERT_FALSE(st.step());
    ASSERT_FALSE(st.step());
    throw std::runtime_error("interrupted");
  } catch (std::runtime_error const&) {
  }
  sm_db_t::statement_t& st = db.statement(sql);
  sm_db_t::reset_guard_t guard(st);
  ASSERT_FALSE(st.step());
  EXPECT_EQ(1, st.column_int64(0));
}

TEST_F(sm_db_test, text_and_blob_columns_keep_their_bytes) {
  sm_db_t db(fixture.db_path(), "p: ");
  std::string const with_nul("a\0b\xff", 4);
  sm_db_t::statement_t& st = db.statement("SELECT ?1, ?2, ?3, ?4, NULL, typeof(?1), typeof(?2);");
  sm_db_t::reset_guard_t guard(st);
  st.bind_blob(1, with_nul);
  st.bind_text(2, with_nul);
  st.bind_blob(3, "");
  st.bind_text(4, "");
  ASSERT_FALSE(st.step());
  EXPECT_EQ(with_nul, st.column_blob(0));
  EXPECT_EQ(with_nul, st.column_text(1));
  EXPECT_EQ("", st.column_blob(2));
  EXPECT_FALSE(st.column_is_null(2));  // an empty blob is no NULL
  EXPECT_EQ("", st.column_text(3));
  EXPECT_FALSE(st.column_is_null(3));
  EXPECT_TRUE(st.column_is_null(4));
  EXPECT_EQ("", st.column_text(4));
  EXPECT_EQ("blob", st.column_text(5));
  EXPECT_EQ("text", st.column_text(6));
  EXPECT_TRUE(st.step());
}

TEST_F(sm_db_test, bind_failures_name_the_call) {
  sm_db_t db(fixture.db_path(), "p: ");
  sm_db_t::statement_t& st = db.statement("SELECT ?1;");
  sm_db_t::reset_guard_t guard(st);
  std::string const tail = "' -> (result code 0x19: column index out of range)";
  EXPECT_EQ("'sqlite3_bind_int64" + tail, failure_text<sm_db_error_t>([&] { st.bind_int64(2, 1); }));
  EXPECT_EQ("'sqlite3_bind_blob" + tail, failure_text<sm_db_error_t>([&] { st.bind_blob(0, "x"); }));
  EXPECT_EQ("'sqlite3_bind_text" + tail, failure_text<sm_db_error_t>([&] { st.bind_text(3, "x"); }));
}

TEST_F(sm_db_test, transactions) {
  std::int64_t const threat = fixture.add_threat("/s/f", 1, 2);
  std::int64_t const history = fixture.add_history(threat_db_fixture_t::detection(threat, 10));
  sm_db_t db(fixture.db_path(), "p: ");
  auto set_moment = [&](std::int64_t moment) {
    sm_db_t::statement_t& st = db.statement("UPDATE history SET moment = ?1 WHERE history_id = ?2;");
    sm_db_t::reset_guard_t guard(st);
    st.bind_int64(1, moment);
    st.bind_int64(2, history);
    EXPECT_TRUE(st.step());
  };
  db.begin();
  set_moment(20);
  db.rollback();
  EXPECT_EQ(10, fixture.query_int("SELECT moment FROM history;"));

  db.begin();
  set_moment(30);
  db.commit();
  EXPECT_EQ(30, fixture.query_int("SELECT moment FROM history;"));
  EXPECT_TRUE(log->take().empty());

  EXPECT_EQ((std::set<std::string>{"BEGIN IMMEDIATE TRANSACTION;", "COMMIT;", "ROLLBACK;",
                                   "UPDATE history SET moment = ?1 WHERE history_id = ?2;"}),
            prepared_statements(db.handle()));
}

TEST_F(sm_db_test, failed_commit_is_logged_and_rethrown) {
  sm_db_t db(fixture.db_path(), "p: ");
  std::string const text = failure_text<sm_db_error_t>([&] { db.commit(); });
  EXPECT_EQ("'step: sqlite3_step' -> (result code 0x1: cannot commit - no transaction is active)", text);
  EXPECT_EQ((std::vector<std::string>{"Error: Commit failed"}), log->take());

  cf_log_threshold = 5;
  EXPECT_THROW(db.commit(), sm_db_error_t);
  EXPECT_TRUE(log->take().empty());
}

TEST_F(sm_db_test, closing_abandons_an_open_transaction) {
  std::int64_t const threat = fixture.add_threat("/s/f", 1, 2);
  fixture.add_history(threat_db_fixture_t::detection(threat, 10));
  {
    sm_db_t db(fixture.db_path(), "p: ");
    db.begin();
    sm_db_t::statement_t& st = db.statement("UPDATE history SET moment = 99;");
    sm_db_t::reset_guard_t guard(st);
    st.step();
  }
  EXPECT_EQ(10, fixture.query_int("SELECT moment FROM history;"));
  fixture.exec("BEGIN IMMEDIATE; COMMIT;");  // no lock is left behind
}

TEST_F(sm_db_test, trace_logs_each_statement_after_the_prefix) {
  sm_db_t db(fixture.db_path(), "Threats base: ");
  auto run = [&](char const* sql) {
    sm_db_t::statement_t& st = db.statement(sql);
    sm_db_t::reset_guard_t guard(st);
    st.step();
  };
  run("SELECT 1;");
  EXPECT_TRUE(log->take().empty());

  db.set_trace(true);
  run("SELECT 2;");
  EXPECT_EQ((std::vector<std::string>{"Debug: Threats base: SELECT 2;"}), log->take());

  cf_log_threshold = 1;  // Debug not admitted
  run("SELECT 3;");
  EXPECT_TRUE(log->take().empty());
  cf_log_threshold = 0;

  db.set_trace(false);
  run("SELECT 4;");
  EXPECT_TRUE(log->take().empty());
}

// Another connection holds the write lock; the step waits in 100 ms rounds and succeeds once
// the lock is gone.
TEST_F(sm_db_test, step_waits_while_another_connection_writes) {
  sm_db_t db(fixture.db_path(), "p: ");
  busy_hook_t hook;
  fixture.exec("BEGIN IMMEDIATE;");
  hook.record.on_wait = [&](std::size_t n) {
    if (n == 3) fixture.exec("COMMIT;");
  };
  db.begin();
  EXPECT_EQ((std::vector<int>{100, 100, 100}), hook.record.waits);
  db.commit();
}

TEST_F(sm_db_test, prepare_waits_while_the_schema_cannot_be_read) {
  fixture.exec("BEGIN EXCLUSIVE;");
  busy_hook_t hook;
  hook.record.on_wait = [&](std::size_t n) {
    if (n == 2) fixture.exec("COMMIT;");
  };
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(fixture.db_path().c_str(), &raw));
  {
    sm_db_t::statement_t st(raw, "SELECT COUNT(*) FROM threat;");
    EXPECT_FALSE(st.step());
    EXPECT_EQ(0, st.column_int64(0));
  }
  sqlite3_close(raw);
  EXPECT_EQ((std::vector<int>{100, 100}), hook.record.waits);
}

// The same with the real sleep and the lock held by another thread's connection.
std::promise<void>* first_wait = nullptr;
void signalling_sleep(int ms) {
  if (first_wait) {
    first_wait->set_value();
    first_wait = nullptr;
  }
  sqlite3_sleep(ms);
}

TEST_F(sm_db_test, step_waits_for_a_lock_held_by_another_thread) {
  sm_db_t db(fixture.db_path(), "p: ");
  std::promise<void> locked;
  std::promise<void> waited;
  first_wait = &waited;
  busy_hook_t hook(&signalling_sleep);
  std::string const path = fixture.db_path().string();
  std::thread writer([&] {
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
    locked.set_value();
    waited.get_future().wait();
    sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
  });
  locked.get_future().wait();
  bool const began = [&] {
    try {
      db.begin();
      return true;
    } catch (sm_db_error_t const&) {
      return false;
    }
  }();
  bool const waited_once = first_wait == nullptr;
  if (!waited_once) waited.set_value();  // let the writer go either way
  writer.join();
  first_wait = nullptr;
  ASSERT_TRUE(began);
  EXPECT_TRUE(waited_once);
  db.commit();
}

}  // namespace
