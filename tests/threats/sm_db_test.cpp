#include "threats/sm_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "tests/support/log_capture.h"
#include "tests/support/threat_db_fixture.h"

namespace {

// The text of what f throws, or "".
std::string failure(std::function<void()> const& f) {
  try {
    f();
  } catch (std::exception const& e) {
    return e.what();
  }
  return "";
}

TEST(sm_db_test, opening_checks_integrity_foreign_keys_and_the_version) {
  std::string const mismatch = "Database version mismatch: current is ";
  // SQL run on the database (or "garbage": the file overwritten), the property rows, the failure.
  std::tuple<char const*, char const*, std::string> const cases[] = {
      {"", "('version_major', '1'), ('version_minor', '7')", ""},
      {"", "('version_major', '01')", mismatch + "01, but 1.x is required"},
      {"", "('version_major', '2'), ('version_minor', '3')", mismatch + "2.3, but 1.x is required"},
      {"", "('version_major', '2'), ('version_minor', NULL)", mismatch + "2, but 1.x is required"},
      {"", "('version_minor', '1')", "Unable to obtain version_major"},
      {"", "('version_major', NULL)", "Unable to obtain version_major"},
      {"garbage", "", "'sqlite3_prepare_v2: PRAGMA integrity_check;' -> (result code 0x1a: file is not a database)"},
      // The index holds one column's values while the schema claims another.
      {"CREATE TABLE t (a TEXT, b TEXT); CREATE INDEX t_a ON t(a); INSERT INTO t VALUES ('a1', 'b1'), ('a2', 'b2');"
       "PRAGMA writable_schema=ON; UPDATE sqlite_master SET sql = 'CREATE INDEX t_a ON t(b)' WHERE name = 't_a';",
       "", "Integrity check failed"},
      {"INSERT INTO session VALUES (77, 1, 2);", "", "Foreign key constraints check failed"},  // not enforced here
  };
  for (auto const& [sql, properties, thrown] : cases) {
    threat_db_fixture_t db;
    bool const garbage = sql == std::string("garbage");
    if (*properties) db.exec(std::string("DELETE FROM property; INSERT INTO property VALUES ") + properties);
    if (db.exec(garbage ? "" : sql), db.disconnect(), garbage)
      std::ofstream(db.db_path().string()) << std::string(4096, 'x');
    EXPECT_EQ(thrown, failure([&] { sm_db_t(db.db_path(), "p: ").check_version("1"); })) << sql << properties;
    if (!garbage) db.exec("BEGIN EXCLUSIVE; COMMIT;");  // nothing stays open
  }
}

// Busy waits seen by the layer; the fixture's connection lets go of its lock at the given one.
threat_db_fixture_t* lock_holder = nullptr;
std::vector<int> waits;
std::size_t release_at = 0;

TEST(sm_db_test, step_and_prepare_wait_while_another_connection_holds_a_lock_and_a_failed_commit_says_so) {
  test_log_t log;
  threat_db_fixture_t fixture;
  lock_holder = &fixture, waits.clear();
  sm_db_t::busy_sleep_t const previous = sm_db_t::set_busy_sleep([](int ms) {
    if (waits.push_back(ms), waits.size() == release_at) lock_holder->exec("COMMIT;");
  });
  {
    fixture.exec("BEGIN EXCLUSIVE;");  // the schema cannot even be read: preparing waits
    release_at = 2;
    sm_db_t db(fixture.db_path(), "p: ");
    EXPECT_EQ((std::vector<int>{100, 100}), waits);
    fixture.exec("BEGIN IMMEDIATE;");  // stepping waits
    waits.clear(), release_at = 3;
    db.begin();
    EXPECT_EQ((std::vector<int>{100, 100, 100}), waits);
    db.commit(), log.clear();
    EXPECT_EQ("'step: sqlite3_step' -> (result code 0x1: cannot commit - no transaction is active)",
              failure([&] { db.commit(); }));
    EXPECT_EQ(std::vector<std::string>{"Error: Commit failed"}, log.lines());
  }
  sm_db_t::set_busy_sleep(previous);
}

}  // namespace
