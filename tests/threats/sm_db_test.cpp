#include "threats/sm_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/threat_db_fixture.h"
#include "tests/threats/log_capture.h"

namespace {

template <class Exception = sm_db_error_t, class F>
std::string failure_text(F&& f) {
  try {
    f();
  } catch (Exception const& e) {
    return e.what();
  }
  return "(no exception)";
}

// Runs one statement to its end inside a guard.
void run(sm_db_t& db, char const* sql) {
  sm_db_t::statement_t& st = db.statement(sql);
  sm_db_t::reset_guard_t guard(st);
  while (!st.step()) {
  }
}

class sm_db_test : public ::testing::Test {
 protected:
  void SetUp() override { log = log_capture_t::install(); }
  sm_db_t open() { return sm_db_t(fixture.db_path(), "p: "); }
  std::shared_ptr<log_capture_t> log;
  threat_db_fixture_t fixture;
};

TEST(sm_db_throw_test, text_names_call_code_in_hex_and_message) {
  EXPECT_EQ("'what' -> (result code 0x13: constraint failed)", failure_text([] { sm_db_throw(nullptr, 19, "what"); }));
  EXPECT_EQ("'x: y' -> (result code 0x1a: file is not a database)",
            failure_text([] { sm_db_throw(nullptr, 26, "x: y"); }));
  // With a handle, its own last message.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &db));
  sqlite3_exec(db, "SELECT * FROM nowhere;", nullptr, nullptr, nullptr);
  std::string const text = failure_text([&] { sm_db_throw(db, 1, "what"); });
  sqlite3_close(db);
  EXPECT_EQ("'what' -> (result code 0x1: no such table: nowhere)", text);
}

TEST_F(sm_db_test, missing_file_is_created_and_fails_the_version_prepare) {
  boost::filesystem::path const path = fixture.sandbox() / "new.db";
  sm_db_t db(path, "Threats base: ");
  EXPECT_TRUE(boost::filesystem::exists(path));
  EXPECT_EQ(
      "'sqlite3_prepare_v2: SELECT value FROM property WHERE name = 'version_major';' -> (result code 0x1: no such "
      "table: property)",
      failure_text([&] { db.check_version("1"); }));
}

TEST_F(sm_db_test, open_failures) {
  EXPECT_EQ("unable to open database file",
            failure_text([&] { sm_db_t db(fixture.sandbox() / "no-such-dir" / "threats.db", "p: "); }));

  boost::filesystem::path const garbage = fixture.sandbox() / "garbage.db";
  std::ofstream(garbage.string()) << std::string(4096, 'x');
  EXPECT_EQ("'sqlite3_prepare_v2: PRAGMA integrity_check;' -> (result code 0x1a: file is not a database)",
            failure_text([&] { sm_db_t db(garbage, "p: "); }));

  // The index holds the values of one column while the schema claims another: every row is
  // then missing from it, and the check reports several rows.
  fixture.exec(
      "CREATE TABLE t (a TEXT, b TEXT); CREATE INDEX t_a ON t(a);"
      "INSERT INTO t VALUES ('a1', 'b1'), ('a2', 'b2'), ('a3', 'b3');"
      "PRAGMA writable_schema=ON;"
      "UPDATE sqlite_master SET sql = 'CREATE INDEX t_a ON t(b)' WHERE name = 't_a';");
  fixture.disconnect();
  EXPECT_EQ("Integrity check failed", failure_text([&] { open(); }));
  fixture.exec("BEGIN EXCLUSIVE; COMMIT;");  // nothing stays open
}

TEST_F(sm_db_test, foreign_keys) {
  std::int64_t const threat = fixture.add_threat("/s/f", 1, 2);
  fixture.add_history({threat, 10});
  {
    sm_db_t db = open();
    EXPECT_TRUE(prepared_statements(db.handle()).empty());  // the checks are not cached
    EXPECT_EQ("'step: sqlite3_step' -> (result code 0x13: FOREIGN KEY constraint failed)",
              failure_text([&] { run(db, "UPDATE history SET threat_id = 999;"); }));
    EXPECT_EQ(threat, fixture.query_int("SELECT threat_id FROM history;"));
  }
  fixture.exec("INSERT INTO session (threat_id, dev, ino) VALUES (77, 1, 2);");  // no enforcement here
  EXPECT_EQ("Foreign key constraints check failed", failure_text([&] { open(); }));
}

TEST_F(sm_db_test, version_check) {
  struct case_t {
    char const* rows;
    char const* expected;  // empty: passes
  };
  std::vector<case_t> const cases = {
      {"('version_major', '1')", ""},
      {"('version_major', '1'), ('version_minor', '7')", ""},
      {"('version_major', '1.0')", "Database version mismatch: current is 1.0, but 1.x is required"},
      {"('version_major', '01')", "Database version mismatch: current is 01, but 1.x is required"},
      {"('version_major', '1 ')", "Database version mismatch: current is 1 , but 1.x is required"},
      {"('version_major', '2'), ('version_minor', '3')",
       "Database version mismatch: current is 2.3, but 1.x is required"},
      {"('version_major', '2'), ('version_minor', NULL)",
       "Database version mismatch: current is 2, but 1.x is required"},
      {"('version_major', ''), ('version_minor', '0')",
       "Database version mismatch: current is .0, but 1.x is required"},
      {"('version_minor', '1')", "Unable to obtain version_major"},
      {"('version_major', NULL)", "Unable to obtain version_major"},
  };
  for (auto const& c : cases) {
    fixture.exec(std::string("DELETE FROM property; INSERT INTO property VALUES ") + c.rows + ";");
    sm_db_t db = open();
    std::string text;
    try {
      db.check_version("1");
    } catch (sm_db_error_t const& e) {
      text = std::string("(layer error) ") + e.what();  // a plain std::runtime_error is expected
    } catch (std::runtime_error const& e) {
      text = e.what();
    }
    EXPECT_EQ(c.expected, text) << c.rows;
    EXPECT_TRUE(prepared_statements(db.handle()).empty());
  }
  fixture.exec("UPDATE property SET value = '3';");
  EXPECT_EQ("Database version mismatch: current is 3, but 2.x is required",
            failure_text<std::runtime_error>([&] { open().check_version("2"); }));
}

TEST_F(sm_db_test, statements_are_cached_by_exact_text) {
  sm_db_t db = open();
  sm_db_t::statement_t& a = db.statement("SELECT 1;");
  EXPECT_EQ(&a, &db.statement(std::string("SELECT 1;").c_str()));
  EXPECT_NE(&a, &db.statement("SELECT 1 ;"));
  for (int round = 0; round < 2; ++round)  // a failed prepare caches nothing
    EXPECT_EQ("'sqlite3_prepare_v2: SELECT x FROM nowhere;' -> (result code 0x1: no such table: nowhere)",
              failure_text([&] { db.statement("SELECT x FROM nowhere;"); }));
  EXPECT_EQ((std::set<std::string>{"SELECT 1;", "SELECT 1 ;"}), prepared_statements(db.handle()));
}

TEST_F(sm_db_test, guard_unbinds_and_rewinds_even_after_an_exception) {
  sm_db_t db = open();
  char const sql[] = "SELECT ?1 IS NULL, ?1 UNION ALL SELECT 2, 2;";
  try {
    sm_db_t::statement_t& st = db.statement(sql);
    sm_db_t::reset_guard_t guard(st);
    st.bind_int64(1, 5);
    ASSERT_FALSE(st.step());
    EXPECT_EQ(0, st.column_int64(0));
    EXPECT_EQ(5, st.column_int64(1));
    throw std::runtime_error("interrupted");
  } catch (std::runtime_error const&) {
  }
  sm_db_t::statement_t& st = db.statement(sql);
  sm_db_t::reset_guard_t guard(st);
  ASSERT_FALSE(st.step());
  EXPECT_EQ(1, st.column_int64(0));
  EXPECT_TRUE(st.column_is_null(1));
}

TEST_F(sm_db_test, text_and_blob_columns_keep_their_bytes) {
  sm_db_t db = open();
  std::string const with_nul("a\0b\xff", 4);
  sm_db_t::statement_t& st = db.statement("SELECT ?1, ?2, ?3, NULL, typeof(?1), typeof(?2);");
  sm_db_t::reset_guard_t guard(st);
  st.bind_blob(1, with_nul);
  st.bind_text(2, with_nul);
  st.bind_blob(3, "");
  ASSERT_FALSE(st.step());
  EXPECT_EQ(with_nul, st.column_blob(0));
  EXPECT_EQ(with_nul, st.column_text(1));
  EXPECT_EQ("", st.column_blob(2));
  EXPECT_FALSE(st.column_is_null(2));  // an empty blob is no NULL
  EXPECT_TRUE(st.column_is_null(3));
  EXPECT_EQ("", st.column_text(3));
  EXPECT_EQ("blob", st.column_text(4));
  EXPECT_EQ("text", st.column_text(5));
  EXPECT_TRUE(st.step());
}

TEST_F(sm_db_test, bind_failures_name_the_call) {
  sm_db_t db = open();
  sm_db_t::statement_t& st = db.statement("SELECT ?1;");
  sm_db_t::reset_guard_t guard(st);
  std::string const tail = "' -> (result code 0x19: column index out of range)";
  EXPECT_EQ("'sqlite3_bind_int64" + tail, failure_text([&] { st.bind_int64(2, 1); }));
  EXPECT_EQ("'sqlite3_bind_blob" + tail, failure_text([&] { st.bind_blob(0, "x"); }));
  EXPECT_EQ("'sqlite3_bind_text" + tail, failure_text([&] { st.bind_text(3, "x"); }));
}

TEST_F(sm_db_test, transactions_and_a_failed_commit) {
  fixture.add_history({fixture.add_threat("/s/f", 1, 2), 10});
  auto moment = [&] { return fixture.query_int("SELECT moment FROM history;"); };
  {
    sm_db_t db = open();
    EXPECT_EQ("'step: sqlite3_step' -> (result code 0x1: cannot commit - no transaction is active)",
              failure_text([&] { db.commit(); }));
    EXPECT_EQ((std::vector<std::string>{"Error: Commit failed"}), log->take());
    cf_log_threshold = 5;
    EXPECT_THROW(db.commit(), sm_db_error_t);
    cf_log_threshold = 0;

    db.begin();
    run(db, "UPDATE history SET moment = 20;");
    db.rollback();
    EXPECT_EQ(10, moment());
    db.begin();
    run(db, "UPDATE history SET moment = 30;");
    db.commit();
    EXPECT_EQ(30, moment());
    EXPECT_EQ((std::set<std::string>{"BEGIN IMMEDIATE TRANSACTION;", "COMMIT;", "ROLLBACK;",
                                     "UPDATE history SET moment = 20;", "UPDATE history SET moment = 30;"}),
              prepared_statements(db.handle()));
    // Closing abandons an open transaction.
    db.begin();
    run(db, "UPDATE history SET moment = 20;");
  }
  EXPECT_EQ(30, moment());
  fixture.exec("BEGIN IMMEDIATE; COMMIT;");  // no lock is left behind
  EXPECT_TRUE(log->take().empty());
}

TEST_F(sm_db_test, trace_logs_each_statement_after_the_prefix) {
  sm_db_t db(fixture.db_path(), "Threats base: ");
  run(db, "SELECT 1;");
  db.set_trace(true);
  run(db, "SELECT 2;");
  cf_log_threshold = 1;  // Debug not admitted
  run(db, "SELECT 3;");
  cf_log_threshold = 0;
  db.set_trace(false);
  run(db, "SELECT 4;");
  EXPECT_EQ((std::vector<std::string>{"Debug: Threats base: SELECT 2;"}), log->take());
}

// Busy waits seen by the layer; the fixture's connection lets go of its lock at the given one.
threat_db_fixture_t* lock_holder = nullptr;
std::vector<int> waits;
std::size_t release_at = 0;

void recording_sleep(int ms) {
  waits.push_back(ms);
  if (waits.size() == release_at) lock_holder->exec("COMMIT;");
}

class sm_db_busy_test : public sm_db_test {
 protected:
  void SetUp() override {
    sm_db_test::SetUp();
    lock_holder = &fixture;
    waits.clear();
    previous = sm_db_t::set_busy_sleep(&recording_sleep);
  }
  void TearDown() override { sm_db_t::set_busy_sleep(previous); }
  sm_db_t::busy_sleep_t previous = nullptr;
};

TEST_F(sm_db_busy_test, step_waits_while_another_connection_writes) {
  sm_db_t db = open();
  fixture.exec("BEGIN IMMEDIATE;");
  release_at = 3;
  db.begin();
  EXPECT_EQ((std::vector<int>{100, 100, 100}), waits);
  db.commit();
}

TEST_F(sm_db_busy_test, prepare_waits_while_the_schema_cannot_be_read) {
  fixture.exec("BEGIN EXCLUSIVE;");
  release_at = 2;
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(fixture.db_path().c_str(), &raw));
  {
    sm_db_t::statement_t st(raw, "SELECT COUNT(*) FROM threat;");
    EXPECT_FALSE(st.step());
  }
  sqlite3_close(raw);
  EXPECT_EQ((std::vector<int>{100, 100}), waits);
}

}  // namespace
