#include "threats/sm_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "framework/log/cf_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/threat_db_fixture.h"

namespace {

// The text of what f throws, or "(no exception)".
std::string failure(std::function<void()> const& f) {
  try {
    f();
  } catch (std::exception const& e) {
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
  sm_db_t open() { return sm_db_t(fixture.db_path(), "p: "); }
  test_log_t log;
  threat_db_fixture_t fixture;
};

TEST_F(sm_db_test, open_failures_name_the_call_the_code_in_hex_and_the_message) {
  EXPECT_EQ("'x: y' -> (result code 0x1a: file is not a database)", failure([] { sm_db_throw(nullptr, 26, "x: y"); }));
  EXPECT_EQ("unable to open database file",
            failure([&] { sm_db_t db(fixture.sandbox() / "no-such-dir" / "threats.db", "p: "); }));
  std::ofstream((fixture.sandbox() / "garbage.db").string()) << std::string(4096, 'x');
  EXPECT_EQ("'sqlite3_prepare_v2: PRAGMA integrity_check;' -> (result code 0x1a: file is not a database)",
            failure([&] { sm_db_t db(fixture.sandbox() / "garbage.db", "p: "); }));
  // A missing file is created; its checks pass, the version's does not.
  sm_db_t created(fixture.sandbox() / "new.db", "p: ");
  EXPECT_TRUE(boost::filesystem::exists(fixture.sandbox() / "new.db"));
  EXPECT_EQ(
      "'sqlite3_prepare_v2: SELECT value FROM property WHERE name = 'version_major';' -> (result code 0x1: no such "
      "table: property)",
      failure([&] { created.check_version("1"); }));
  // The index holds one column's values while the schema claims another: the check fails.
  fixture.exec(
      "CREATE TABLE t (a TEXT, b TEXT); CREATE INDEX t_a ON t(a);"
      "INSERT INTO t VALUES ('a1', 'b1'), ('a2', 'b2'), ('a3', 'b3'); PRAGMA writable_schema=ON;"
      "UPDATE sqlite_master SET sql = 'CREATE INDEX t_a ON t(b)' WHERE name = 't_a';");
  fixture.disconnect();
  EXPECT_EQ("Integrity check failed", failure([&] { open(); }));
  fixture.exec("BEGIN EXCLUSIVE; COMMIT;");  // nothing stays open
}

TEST_F(sm_db_test, foreign_keys_are_enforced_and_checked_at_open) {
  fixture.add_history({fixture.add_threat("/s/f", 1, 2), 10});
  {
    sm_db_t db = open();
    EXPECT_TRUE(prepared_statements(db.handle()).empty());  // the checks are not cached
    EXPECT_EQ("'step: sqlite3_step' -> (result code 0x13: FOREIGN KEY constraint failed)",
              failure([&] { run(db, "UPDATE history SET threat_id = 999;"); }));
  }
  fixture.exec("INSERT INTO session (threat_id, dev, ino) VALUES (77, 1, 2);");  // the fixture does not enforce
  EXPECT_EQ("Foreign key constraints check failed", failure([&] { open(); }));
}

TEST_F(sm_db_test, version_check) {
  std::string const mismatch = "Database version mismatch: current is ";
  for (auto const& c : std::vector<std::pair<char const*, std::string>>{
           {"('version_major', '1')", ""},
           {"('version_major', '1'), ('version_minor', '7')", ""},
           {"('version_major', '01')", mismatch + "01, but 1.x is required"},
           {"('version_major', '1 ')", mismatch + "1 , but 1.x is required"},
           {"('version_major', '2'), ('version_minor', '3')", mismatch + "2.3, but 1.x is required"},
           {"('version_major', '2'), ('version_minor', NULL)", mismatch + "2, but 1.x is required"},
           {"('version_major', ''), ('version_minor', '0')", mismatch + ".0, but 1.x is required"},
           {"('version_minor', '1')", "Unable to obtain version_major"},
           {"('version_major', NULL)", "Unable to obtain version_major"}}) {
    fixture.exec(std::string("DELETE FROM property; INSERT INTO property VALUES ") + c.first + ";");
    sm_db_t db = open();
    std::string text;
    try {
      db.check_version("1");
    } catch (sm_db_error_t const& e) {
      text = std::string("(layer error) ") + e.what();  // a plain std::runtime_error is expected
    } catch (std::runtime_error const& e) {
      text = e.what();
    }
    EXPECT_EQ(c.second, text) << c.first;
    EXPECT_TRUE(prepared_statements(db.handle()).empty());
  }
}

TEST_F(sm_db_test, statements_are_cached_by_text_and_guarded_binds_and_columns_keep_their_bytes) {
  sm_db_t db = open();
  sm_db_t::statement_t& one = db.statement("SELECT 1;");
  EXPECT_EQ(&one, &db.statement(std::string("SELECT 1;").c_str()));
  EXPECT_NE(&one, &db.statement("SELECT 1 ;"));
  for (int round = 0; round < 2; ++round)  // a failed prepare caches nothing
    EXPECT_EQ("'sqlite3_prepare_v2: SELECT x FROM nowhere;' -> (result code 0x1: no such table: nowhere)",
              failure([&] { db.statement("SELECT x FROM nowhere;"); }));
  EXPECT_EQ((std::set<std::string>{"SELECT 1;", "SELECT 1 ;"}), prepared_statements(db.handle()));

  char const sql[] =
      "SELECT ?1 IS NULL, ?1, ?2, ?3, NULL, typeof(?1), typeof(?2) UNION ALL SELECT 2, 2, 2, 2, 2, 2, 2;";
  std::string const with_nul("a\0b\xff", 4);
  EXPECT_EQ("interrupted", failure([&] {
              sm_db_t::statement_t& st = db.statement(sql);
              sm_db_t::reset_guard_t guard(st);
              st.bind_blob(1, with_nul);
              st.bind_text(2, with_nul);
              st.bind_blob(3, "");
              ASSERT_FALSE(st.step());
              EXPECT_EQ(0, st.column_int64(0));
              EXPECT_EQ(with_nul, st.column_blob(1));
              EXPECT_EQ(with_nul, st.column_text(2));
              EXPECT_FALSE(st.column_is_null(3));  // an empty blob is no NULL
              EXPECT_EQ("", st.column_blob(3));
              EXPECT_TRUE(st.column_is_null(4));
              EXPECT_EQ("", st.column_text(4));
              EXPECT_EQ("blob text", st.column_text(5) + " " + st.column_text(6));
              throw std::runtime_error("interrupted");
            }));
  sm_db_t::statement_t& st = db.statement(sql);  // the guard unbound and rewound it
  sm_db_t::reset_guard_t guard(st);
  std::string const tail = "' -> (result code 0x19: column index out of range)";
  EXPECT_EQ("'sqlite3_bind_int64" + tail, failure([&] { st.bind_int64(4, 1); }));
  EXPECT_EQ("'sqlite3_bind_blob" + tail, failure([&] { st.bind_blob(0, "x"); }));
  EXPECT_EQ("'sqlite3_bind_text" + tail, failure([&] { st.bind_text(5, "x"); }));
  ASSERT_FALSE(st.step());
  EXPECT_EQ(1, st.column_int64(0));
}

TEST_F(sm_db_test, transactions_a_failed_commit_and_the_trace) {
  fixture.add_history({fixture.add_threat("/s/f", 1, 2), 10});
  auto moment = [&] { return fixture.query_int("SELECT moment FROM history;"); };
  {
    sm_db_t db = open();
    EXPECT_EQ("'step: sqlite3_step' -> (result code 0x1: cannot commit - no transaction is active)",
              failure([&] { db.commit(); }));
    EXPECT_EQ((std::vector<std::string>{"Error: Commit failed"}), log.lines());
    cf_log_threshold = 5;
    EXPECT_NE("(no exception)", failure([&] { db.commit(); }));
    cf_log_threshold = 0;
    log.clear();
    db.begin();
    run(db, "UPDATE history SET moment = 20;");
    db.rollback();
    EXPECT_EQ(10, moment());
    db.set_trace(true);
    db.begin();
    run(db, "UPDATE history SET moment = 30;");
    db.commit();
    db.set_trace(false);
    EXPECT_EQ(30, moment());
    EXPECT_EQ((std::vector<std::string>{"Debug: p: BEGIN IMMEDIATE TRANSACTION;",
                                        "Debug: p: UPDATE history SET moment = 30;", "Debug: p: COMMIT;"}),
              log.lines());
    cf_log_threshold = 1;  // no Debug lines: none built
    db.set_trace(true);
    db.begin();  // closing abandons an open transaction
    run(db, "UPDATE history SET moment = 20;");
  }
  EXPECT_EQ(30, moment());
  fixture.exec("BEGIN IMMEDIATE; COMMIT;");  // no lock is left behind
  EXPECT_EQ(3u, log.lines().size()) << log.text();
}

// Busy waits seen by the layer; the fixture's connection lets go of its lock at the given one.
threat_db_fixture_t* lock_holder = nullptr;
std::vector<int> waits;
std::size_t release_at = 0;

void recording_sleep(int ms) {
  waits.push_back(ms);
  if (waits.size() == release_at) lock_holder->exec("COMMIT;");
}

TEST_F(sm_db_test, step_and_prepare_wait_while_another_connection_holds_a_lock) {
  lock_holder = &fixture;
  sm_db_t::busy_sleep_t const previous = sm_db_t::set_busy_sleep(&recording_sleep);
  {
    sm_db_t db = open();
    fixture.exec("BEGIN IMMEDIATE;");
    waits.clear();
    release_at = 3;
    db.begin();
    EXPECT_EQ((std::vector<int>{100, 100, 100}), waits);
    db.commit();
  }
  fixture.exec("BEGIN EXCLUSIVE;");  // the schema cannot even be read
  waits.clear();
  release_at = 2;
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(fixture.db_path().c_str(), &raw));
  {
    sm_db_t::statement_t st(raw, "SELECT COUNT(*) FROM threat;");
    EXPECT_FALSE(st.step());
  }
  sqlite3_close(raw);
  EXPECT_EQ((std::vector<int>{100, 100}), waits);
  sm_db_t::set_busy_sleep(previous);
}

}  // namespace
