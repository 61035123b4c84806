#include "threats/sm_threat_base.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/threat_db_fixture.h"

namespace {

// The statements exactly as the file checker's database contract words them.
char const find_history_sql[] =
    R"sql(SELECT h.threat_id,EXISTS(SELECT 1 FROM history        WHERE threat_id = h.threat_id        AND neutralized) AS neutralized FROM history h WHERE h.history_id = ?;)sql";
char const next_task_sql[] =
    R"sql(SELECT t.threat_id, h.moment FROM threat t JOIN history h ON h.threat_id = t.threat_id WHERE NOT EXISTS (SELECT 1 FROM history                   WHERE threat_id = t.threat_id                   AND neutralized) AND (SELECT locked FROM history      WHERE threat_id = t.threat_id AND event = ?1 AND origin = ?2      ORDER BY history_id DESC LIMIT 1) AND h.event = ?1 AND h.origin = ?2 AND t.threat_id > ?3 AND h.moment >= ?4 ORDER BY h.moment ASC   , h.threat_id ASC   , h.history_id DESC;)sql";
char const check_locked_sql[] =
    R"sql(SELECT h.locked FROM threat t JOIN session s ON s.threat_id = t.threat_id JOIN history h ON h.threat_id = t.threat_id     AND h.event = ?1     AND h.origin = ?2     AND h.tag = ?3 WHERE NOT EXISTS(         SELECT 1 FROM history         WHERE threat_id = t.threat_id             AND neutralized)     AND t.path = ?4     AND s.dev = ?5     AND s.ino = ?6 ORDER BY h.history_id DESC ;)sql";
char const update_remote_user_sql[] =
    R"sql(UPDATE threat SET     remote_ip = ?1   , remote_user = ?2   , remote_domain = ?3 WHERE threat_id =         (SELECT threat_id         FROM history         WHERE history_id = ?4)     AND (SELECT COUNT(*) FROM history h         JOIN history hh ON h.threat_id = hh.threat_id         WHERE h.history_id = ?4)        = 1;)sql";
char const update_history_sql[] = R"sql(UPDATE history SET     locked = ?2   , tag = ?3 WHERE history_id = ?1;)sql";
char const load_by_history_id_sql[] =
    R"sql(SELECT t.threat_id, t.path, hr.scanreport, h.moment, h.locked   , EXISTS(SELECT 1 FROM history WHERE threat_id = t.threat_id        AND neutralized)     AS neutralized   , h.event, h.origin   , EXISTS(SELECT 1 FROM threat tt         WHERE tt.path = t.path         AND NOT EXISTS(             SELECT 1 FROM history WHERE threat_id = tt.threat_id             AND neutralized)         AND EXISTS(             SELECT 1 FROM history WHERE threat_id = tt.threat_id             AND event = ?2             AND origin = ?3))     AS has_paths   , hf.tag   , s.dev   , s.ino FROM threat t JOIN session s ON s.threat_id = t.threat_id JOIN history h ON h.threat_id = t.threat_id JOIN history hf ON hf.threat_id = t.threat_id    AND hf.event = ?2     AND hf.origin = ?3 JOIN history hr ON hr.threat_id = t.threat_id     AND hr.scanreport IS NOT NULL     AND hr.event = ?2 WHERE h.history_id = ?1 ORDER BY hr.history_id DESC   , hf.history_id DESC ;)sql";
char const load_sql[] =
    R"sql(SELECT t.threat_id, t.path, s.dev, s.ino, hr.scanreport   , h.moment, h.tag, h.locked   , EXISTS(SELECT 1 FROM history WHERE threat_id = t.threat_id AND neutralized)    AS neutralized FROM threat t JOIN history h ON h.threat_id = t.threat_id     AND h.event = ?2     AND h.origin = ?3 JOIN session s ON s.threat_id = t.threat_id JOIN history hr ON hr.threat_id = t.threat_id     AND hr.scanreport IS NOT NULL     AND hr.event = ?2 WHERE t.threat_id = ?1 ORDER BY h.history_id DESC    , hr.history_id DESC ;)sql";
char const duplicate_sql[] =
    R"sql(SELECT hr.scanreport, ht.locked, ht.tag = ?4 AS tag_eq FROM threat t JOIN session s ON s.threat_id = t.threat_id JOIN history hr ON hr.threat_id = t.threat_id JOIN history ht ON ht.threat_id = t.threat_id WHERE NOT EXISTS(         SELECT 1 FROM history         WHERE threat_id = t.threat_id             AND neutralized)     AND t.path = ?1     AND s.dev = ?2     AND s.ino = ?3     AND ht.event = ?5     AND ht.origin = ?6     AND hr.scanreport IS NOT NULL     AND hr.event = ?5 ORDER BY tag_eq DESC   , ht.history_id DESC   , hr.history_id DESC ;)sql";

using row_t = threat_db_fixture_t::history_row_t;
using task_t = sm_threat_base_t::task_t;

std::uint64_t const big_dev = (std::uint64_t(1) << 63) + 5;
std::uint64_t const max_ino = std::numeric_limits<std::uint64_t>::max();

row_t own(std::int64_t threat, std::int64_t moment, std::optional<std::string> tag, std::optional<std::int64_t> locked,
          std::optional<std::string> report = std::nullopt) {
  return threat_db_fixture_t::detection(threat, moment, std::move(tag), locked, std::move(report));
}

row_t neutralizing(std::int64_t threat, std::int64_t moment) {
  row_t row;
  row.threat_id = threat;
  row.moment = moment;
  row.event = 3;
  row.origin = 1;
  row.neutralized = true;
  return row;
}

class sm_threat_base_test : public ::testing::Test {
 protected:
  sm_db_t& db() {
    if (!connection) connection.reset(new sm_db_t(fixture.db_path(), "Threats base: "));
    return *connection;
  }

  std::string table_dump() {
    return fixture
               .query_text(
                   "SELECT group_concat(quote(threat_id)||','||quote(path)||','||quote(remote_ip)||','"
                   "||quote(remote_user)||','||quote(remote_domain), ';') FROM threat;")
               .value_or("") +
           "|" +
           fixture
               .query_text(
                   "SELECT group_concat(quote(history_id)||','||quote(threat_id)||','||quote(moment)||','"
                   "||quote(tag)||','||quote(locked), ';') FROM history;")
               .value_or("");
  }

  threat_db_fixture_t fixture;
  std::unique_ptr<sm_db_t> connection;
};

TEST_F(sm_threat_base_test, find_history) {
  std::int64_t const a = fixture.add_threat("/s/a", 1, 2);
  std::int64_t const ha = fixture.add_history(own(a, 100, "s", 1));
  std::int64_t const b = fixture.add_threat("/s/b", 1, 3);
  std::int64_t const hb = fixture.add_history(own(b, 100, "s", 1));
  std::int64_t const hn = fixture.add_history(neutralizing(b, 200));

  EXPECT_EQ(std::make_pair(a, false), sm_threat_base_t::find_history(db(), ha));
  EXPECT_EQ(std::make_pair(b, true), sm_threat_base_t::find_history(db(), hb));
  EXPECT_EQ(std::make_pair(b, true), sm_threat_base_t::find_history(db(), hn));
  EXPECT_EQ(std::make_pair(std::int64_t(-1), false), sm_threat_base_t::find_history(db(), 999));
  EXPECT_EQ(std::set<std::string>{find_history_sql}, prepared_statements(db().handle()));
}

TEST_F(sm_threat_base_test, load_next_task) {
  // Ids are assigned in insertion order, 1 to 8.
  std::int64_t const a = fixture.add_threat("/s/a", 1, 1);
  fixture.add_history(own(a, 100, "s", 1));
  std::int64_t const neutralized = fixture.add_threat("/s/b", 1, 2);
  fixture.add_history(own(neutralized, 50, "s", 1));
  fixture.add_history(neutralizing(neutralized, 51));
  std::int64_t const unlocked_later = fixture.add_threat("/s/c", 1, 3);
  fixture.add_history(own(unlocked_later, 60, "s", 1));
  fixture.add_history(own(unlocked_later, 70, "s", 0));
  std::int64_t const null_locked = fixture.add_threat("/s/d", 1, 4);
  fixture.add_history(own(null_locked, 40, "s", std::nullopt));
  std::int64_t const foreign = fixture.add_threat("/s/e", 1, 5);
  row_t other_origin = own(foreign, 30, "s", 1);
  other_origin.origin = 41;
  fixture.add_history(other_origin);
  std::int64_t const f = fixture.add_threat("/s/f", 1, 6);
  fixture.add_history(own(f, 100, "s", 1));
  std::int64_t const g = fixture.add_threat("/s/g", 1, 7);
  fixture.add_history(own(g, 20, "s", 1));
  std::int64_t const other_event = fixture.add_threat("/s/h", 1, 8);
  row_t event2 = own(other_event, 10, "s", 1);
  event2.event = 2;
  fixture.add_history(event2);
  ASSERT_EQ(8, other_event);

  struct case_t {
    task_t cursor;
    task_t expected;
  };
  std::vector<case_t> const cases = {
      {{-1, 0}, {g, 20}},  {{0, 20}, {g, 20}}, {{0, 21}, {a, 100}}, {{a, 100}, {f, 100}},  // same moment: by threat id
      {{f, 100}, {-1, 0}}, {{5, 0}, {g, 20}},                                              // moment first, then id
      {{g, 20}, {-1, 0}},  {{f, 50}, {-1, 0}},  // two separate comparisons, not an order on the pair
      {{0, 101}, {-1, 0}},
  };
  for (auto const& c : cases) {
    task_t const next = sm_threat_base_t::load_next_task(db(), c.cursor);
    EXPECT_EQ(c.expected.threat_id, next.threat_id) << c.cursor.threat_id << "," << c.cursor.moment;
    EXPECT_EQ(c.expected.moment, next.moment) << c.cursor.threat_id << "," << c.cursor.moment;
  }
  EXPECT_EQ(std::set<std::string>{next_task_sql}, prepared_statements(db().handle()));
}

TEST_F(sm_threat_base_test, check_locked) {
  std::int64_t const a = fixture.add_threat("/s/a", 1, 2);
  fixture.add_history(own(a, 100, "share", 1));
  std::int64_t const null_locked = fixture.add_threat("/s/n", 1, 2);
  fixture.add_history(own(null_locked, 100, "share", std::nullopt));
  std::int64_t const zero = fixture.add_threat("/s/z", 1, 2);
  fixture.add_history(own(zero, 100, "share", 0));
  std::int64_t const released = fixture.add_threat("/s/released", 1, 2);
  fixture.add_history(own(released, 100, "share", 1));
  fixture.add_history(own(released, 101, "share", 0));
  std::int64_t const relocked = fixture.add_threat("/s/relocked", 1, 2);
  fixture.add_history(own(relocked, 100, "share", 0));
  fixture.add_history(own(relocked, 101, "share", 1));
  std::int64_t const neutralized = fixture.add_threat("/s/neutralized", 1, 2);
  fixture.add_history(own(neutralized, 100, "share", 1));
  fixture.add_history(neutralizing(neutralized, 101));
  std::int64_t const text_path = fixture.add_threat("/s/text", 1, 2, true);
  fixture.add_history(own(text_path, 100, "share", 1));
  std::int64_t const big = fixture.add_threat("/s/big", big_dev, max_ino);
  fixture.add_history(own(big, 100, "share", 1));
  std::int64_t const foreign = fixture.add_threat("/s/foreign", 1, 2);
  row_t other_origin = own(foreign, 100, "share", 1);
  other_origin.origin = 41;
  fixture.add_history(other_origin);
  std::int64_t const no_tag = fixture.add_threat("/s/notag", 1, 2);
  fixture.add_history(own(no_tag, 100, std::nullopt, 1));

  struct case_t {
    char const* path;
    std::uint64_t dev;
    std::uint64_t ino;
    char const* tag;
    bool expected;
  };
  std::vector<case_t> const cases = {
      {"/s/a", 1, 2, "share", true},          {"/s/a", 1, 2, "other", false},
      {"/s/a", 9, 2, "share", false},         {"/s/a", 1, 9, "share", false},
      {"/s/a/", 1, 2, "share", false},        {"/s/n", 1, 2, "share", false},
      {"/s/z", 1, 2, "share", false},         {"/s/released", 1, 2, "share", false},
      {"/s/relocked", 1, 2, "share", true},   {"/s/neutralized", 1, 2, "share", false},
      {"/s/text", 1, 2, "share", false},      {"/s/big", big_dev, max_ino, "share", true},
      {"/s/big", 5, max_ino, "share", false}, {"/s/foreign", 1, 2, "share", false},
      {"/s/notag", 1, 2, "", false},          {"/s/nothing", 1, 2, "share", false},
  };
  for (auto const& c : cases)
    EXPECT_EQ(c.expected, sm_threat_base_t::check_locked(db(), c.path, c.dev, c.ino, c.tag)) << c.path << " " << c.tag;
  // Stored as the signed 64-bit images of the numbers.
  EXPECT_EQ(std::numeric_limits<std::int64_t>::min() + 5,
            fixture.query_int("SELECT dev FROM session WHERE threat_id = " + std::to_string(big) + ";"));
  EXPECT_EQ(-1, fixture.query_int("SELECT ino FROM session WHERE threat_id = " + std::to_string(big) + ";"));
  EXPECT_EQ(std::set<std::string>{check_locked_sql}, prepared_statements(db().handle()));
}

sm_threat_t synced_threat(bool locked, std::string const& tag) {
  sm_threat_t threat;
  threat.locked = locked;
  threat.tag = tag;
  return threat;
}

TEST_F(sm_threat_base_test, update_synced_first_detection_records_the_remote_user) {
  std::int64_t const t = fixture.add_threat("/s/a", 1, 2);
  std::int64_t const h = fixture.add_history(own(t, 100, std::nullopt, std::nullopt));
  sm_threat_t threat = synced_threat(true, "share");
  threat.remote_user.set_ip("10.0.0.1");
  threat.remote_user.set_user("alice");
  threat.remote_user.set_domain("CORP");
  sm_threat_base_t::update_synced(db(), threat, h);
  EXPECT_EQ("1,X'2F732F61','10.0.0.1','alice','CORP'|1,1,100,'share',1", table_dump());
  EXPECT_EQ((std::set<std::string>{update_remote_user_sql, update_history_sql}), prepared_statements(db().handle()));
}

TEST_F(sm_threat_base_test, update_synced_writes_absent_remote_fields_as_null) {
  std::int64_t const t = fixture.add_threat("/s/a", 1, 2);
  fixture.exec("UPDATE threat SET remote_ip = 'old-ip', remote_user = 'old-user', remote_domain = 'old-domain';");
  std::int64_t const h = fixture.add_history(own(t, 100, "share", 1));
  sm_threat_t threat = synced_threat(false, "renamed");
  threat.remote_user.set_ip("10.0.0.2");
  threat.remote_user.set_user("bob");
  sm_threat_base_t::update_synced(db(), threat, h);
  EXPECT_EQ("1,X'2F732F61','10.0.0.2','bob',NULL|1,1,100,'renamed',0", table_dump());

  // The next use binds nothing: every remote column becomes NULL.
  sm_threat_base_t::update_synced(db(), synced_threat(true, ""), h);
  EXPECT_EQ("1,X'2F732F61',NULL,NULL,NULL|1,1,100,'',1", table_dump());
}

TEST_F(sm_threat_base_test, update_synced_keeps_the_first_remote_user_of_a_threat_with_more_rows) {
  std::int64_t const t = fixture.add_threat("/s/a", 1, 2);
  fixture.exec("UPDATE threat SET remote_ip = 'first-ip', remote_user = 'first', remote_domain = NULL;");
  fixture.add_history(own(t, 100, "one", 1));
  std::int64_t const second = fixture.add_history(own(t, 200, std::nullopt, std::nullopt));
  sm_threat_t threat = synced_threat(true, "two");
  threat.remote_user.set_ip("10.9.9.9");
  threat.remote_user.set_user("mallory");
  threat.remote_user.set_domain("EVIL");
  sm_threat_base_t::update_synced(db(), threat, second);
  EXPECT_EQ("1,X'2F732F61','first-ip','first',NULL|1,1,100,'one',1;2,1,200,'two',1", table_dump());
}

TEST_F(sm_threat_base_test, update_synced_of_a_missing_history_row_changes_nothing) {
  std::int64_t const t = fixture.add_threat("/s/a", 1, 2);
  fixture.add_history(own(t, 100, "one", std::nullopt));
  std::string const before = table_dump();
  sm_threat_t threat = synced_threat(true, "two");
  threat.remote_user.set_ip("10.9.9.9");
  sm_threat_base_t::update_synced(db(), threat, 999);
  EXPECT_EQ(before, table_dump());
  EXPECT_EQ(std::make_pair(std::int64_t(-1), false), sm_threat_base_t::find_history(db(), 999));
}

void expect_report(std::string const& object, sm_threat_t const& threat) {
  EXPECT_EQ(object, threat.report.object());
  ASSERT_EQ(1, threat.report.virus_size());
  EXPECT_EQ("EICAR-Test", threat.report.virus(0).name());
}

class sm_threat_base_load_test : public sm_threat_base_test {
 protected:
  void SetUp() override {
    // One threat of this daemon with two detections and a later event of another component.
    t = fixture.add_threat(path, big_dev, max_ino);
    first = fixture.add_history(own(t, 100, "first", std::nullopt, threat_db_fixture_t::report_blob("old")));
    second = fixture.add_history(own(t, 200, "second", 1, threat_db_fixture_t::report_blob("new")));
    row_t other = own(t, 300, std::nullopt, std::nullopt);
    other.event = 2;
    other.origin = 7;
    later = fixture.add_history(other);
  }

  std::string const path{"/s/a\xff\x01 b"};
  std::int64_t t = 0, first = 0, second = 0, later = 0;
};

TEST_F(sm_threat_base_load_test, load_by_history_id_reads_every_column) {
  std::shared_ptr<sm_threat_t> threat = sm_threat_base_t::load_by_history_id(db(), first);
  ASSERT_TRUE(threat);
  EXPECT_EQ(t, threat->threat_id);
  EXPECT_EQ(path, threat->path.native());
  expect_report("new", *threat);  // the latest report of the threat
  EXPECT_EQ(100, threat->moment);
  EXPECT_FALSE(threat->locked);  // NULL
  EXPECT_FALSE(threat->neutralized);
  EXPECT_EQ(1u, threat->event);
  EXPECT_EQ(40u, threat->origin);
  EXPECT_TRUE(threat->has_paths);
  EXPECT_EQ("second", threat->tag);  // the latest own detection's tag
  EXPECT_EQ(big_dev, threat->dev);
  EXPECT_EQ(max_ino, threat->ino);
  EXPECT_FALSE(threat->remote_user.has_ip());

  threat = sm_threat_base_t::load_by_history_id(db(), second);
  ASSERT_TRUE(threat);
  EXPECT_EQ(200, threat->moment);
  EXPECT_TRUE(threat->locked);

  threat = sm_threat_base_t::load_by_history_id(db(), later);
  ASSERT_TRUE(threat);
  EXPECT_EQ(300, threat->moment);
  EXPECT_EQ(2u, threat->event);
  EXPECT_EQ(7u, threat->origin);
  EXPECT_EQ("second", threat->tag);

  EXPECT_FALSE(sm_threat_base_t::load_by_history_id(db(), 999));
  EXPECT_EQ(std::set<std::string>{load_by_history_id_sql}, prepared_statements(db().handle()));
}

TEST_F(sm_threat_base_load_test, load_reads_the_latest_own_detection) {
  std::shared_ptr<sm_threat_t> threat = sm_threat_base_t::load(db(), t);
  ASSERT_TRUE(threat);
  EXPECT_EQ(t, threat->threat_id);
  EXPECT_EQ(path, threat->path.native());
  EXPECT_EQ(big_dev, threat->dev);
  EXPECT_EQ(max_ino, threat->ino);
  expect_report("new", *threat);
  EXPECT_EQ(200, threat->moment);
  EXPECT_EQ("second", threat->tag);
  EXPECT_TRUE(threat->locked);
  EXPECT_FALSE(threat->neutralized);
  EXPECT_EQ(1u, threat->event);
  EXPECT_EQ(40u, threat->origin);
  EXPECT_FALSE(threat->has_paths);

  EXPECT_FALSE(sm_threat_base_t::load(db(), 999));
  EXPECT_EQ(std::set<std::string>{load_sql}, prepared_statements(db().handle()));
}

TEST_F(sm_threat_base_load_test, null_locked_and_tag_and_neutralized) {
  std::int64_t const n = fixture.add_threat("/s/n", 1, 2);
  std::int64_t const h =
      fixture.add_history(own(n, 50, std::nullopt, std::nullopt, threat_db_fixture_t::report_blob("n")));
  fixture.add_history(neutralizing(n, 60));

  std::shared_ptr<sm_threat_t> threat = sm_threat_base_t::load(db(), n);
  ASSERT_TRUE(threat);
  EXPECT_FALSE(threat->locked);
  EXPECT_EQ("", threat->tag);
  EXPECT_TRUE(threat->neutralized);

  threat = sm_threat_base_t::load_by_history_id(db(), h);
  ASSERT_TRUE(threat);
  EXPECT_FALSE(threat->locked);
  EXPECT_EQ("", threat->tag);
  EXPECT_TRUE(threat->neutralized);
  EXPECT_FALSE(threat->has_paths);  // its only threat of that path is neutralized

  // Another live detection of the same path by this daemon.
  std::int64_t const again = fixture.add_threat("/s/n", 1, 3);
  fixture.add_history(own(again, 70, "x", 1, threat_db_fixture_t::report_blob("n")));
  threat = sm_threat_base_t::load_by_history_id(db(), h);
  ASSERT_TRUE(threat);
  EXPECT_TRUE(threat->has_paths);
}

TEST_F(sm_threat_base_load_test, has_paths_needs_a_detection_of_this_daemon) {
  std::int64_t const n = fixture.add_threat("/s/p", 1, 2);
  std::int64_t const h = fixture.add_history(own(n, 50, "x", 1, threat_db_fixture_t::report_blob("p")));
  fixture.add_history(neutralizing(n, 60));
  std::int64_t const foreign = fixture.add_threat("/s/p", 1, 3);
  row_t other = own(foreign, 70, "x", 1, threat_db_fixture_t::report_blob("p"));
  other.origin = 41;
  fixture.add_history(other);
  std::shared_ptr<sm_threat_t> threat = sm_threat_base_t::load_by_history_id(db(), h);
  ASSERT_TRUE(threat);
  EXPECT_FALSE(threat->has_paths);
}

TEST_F(sm_threat_base_load_test, unparsable_or_missing_reports_load_nothing) {
  struct case_t {
    char const* name;
    std::optional<std::string> blob;
  };
  std::vector<case_t> const cases = {
      {"garbage", std::string("\xff\xff\xff", 3)},
      {"empty blob", std::string()},
      {"no object", qn::ScanReport().SerializePartialAsString()},
      {"no report", std::nullopt},
  };
  for (auto const& c : cases) {
    std::int64_t const bad = fixture.add_threat(std::string("/s/bad-") + c.name, 1, 2);
    std::int64_t const h = fixture.add_history(own(bad, 50, "x", 1, c.blob));
    EXPECT_FALSE(sm_threat_base_t::load(db(), bad)) << c.name;
    EXPECT_FALSE(sm_threat_base_t::load_by_history_id(db(), h)) << c.name;
  }
}

TEST_F(sm_threat_base_load_test, a_threat_without_own_detection_loads_nothing) {
  std::int64_t const foreign = fixture.add_threat("/s/foreign", 1, 2);
  row_t other = own(foreign, 70, "x", 1, threat_db_fixture_t::report_blob("f"));
  other.origin = 41;
  std::int64_t const h = fixture.add_history(other);
  EXPECT_FALSE(sm_threat_base_t::load(db(), foreign));
  EXPECT_FALSE(sm_threat_base_t::load_by_history_id(db(), h));
}

struct duplicate_case_t {
  char const* name;
  std::optional<std::int64_t> stored_locked;
  std::optional<std::string> stored_tag;
  bool stored_report_parses;
  bool stored_neutralized;
  bool new_locked;
  std::string new_tag;
  std::string new_virus;
  std::uint64_t new_ino;
  bool expected;
};

TEST(sm_threat_base_duplicate_test, decides_by_lock_tag_and_report) {
  std::vector<duplicate_case_t> const cases = {
      {"locked same tag equal", 1, "share", true, false, true, "share", "EICAR-Test", 6, true},
      {"locked same tag equal, new unlocked", 1, "share", true, false, false, "share", "EICAR-Test", 6, true},
      {"locked same tag other report", 1, "share", true, false, true, "share", "Other", 6, false},
      {"locked same tag unparsable", 1, "share", false, false, true, "share", "EICAR-Test", 6, false},
      {"unlocked same tag, new locked", 0, "share", true, false, true, "share", "EICAR-Test", 6, false},
      {"null locked same tag, new locked", std::nullopt, "share", true, false, true, "share", "EICAR-Test", 6, false},
      {"unlocked same tag, new unlocked", 0, "share", true, false, false, "share", "EICAR-Test", 6, true},
      {"unlocked, new unlocked, other report", 0, "share", true, false, false, "share", "Other", 6, false},
      {"unlocked, new unlocked, unparsable", 0, "share", false, false, false, "share", "EICAR-Test", 6, false},
      {"locked other tag, new locked", 1, "share", true, false, true, "other", "EICAR-Test", 6, false},
      {"locked other tag, new unlocked", 1, "share", true, false, false, "other", "EICAR-Test", 6, true},
      {"locked null tag, new locked", 1, std::nullopt, true, false, true, "share", "EICAR-Test", 6, false},
      {"locked null tag, new unlocked", 1, std::nullopt, true, false, false, "share", "EICAR-Test", 6, true},
      {"other file", 1, "share", true, false, true, "share", "EICAR-Test", 7, false},
      {"neutralized", 1, "share", true, true, true, "share", "EICAR-Test", 6, false},
  };
  for (auto const& c : cases) {
    threat_db_fixture_t fixture;
    std::int64_t const t = fixture.add_threat("/s/d", big_dev, 6);
    fixture.add_history(
        own(t, 100, c.stored_tag, c.stored_locked,
            c.stored_report_parses ? threat_db_fixture_t::report_blob("/s/d") : std::string("\x0a\x05zz", 4)));
    if (c.stored_neutralized) fixture.add_history(neutralizing(t, 101));
    sm_threat_t threat;
    threat.path = "/s/d";
    threat.dev = big_dev;
    threat.ino = c.new_ino;
    threat.tag = c.new_tag;
    threat.locked = c.new_locked;
    threat.report = threat_db_fixture_t::report("/s/d", c.new_virus);
    sm_db_t db(fixture.db_path(), "Threats base: ");
    EXPECT_EQ(c.expected, sm_threat_base_t::is_duplicate(db, threat)) << c.name;
    EXPECT_EQ(std::set<std::string>{duplicate_sql}, prepared_statements(db.handle())) << c.name;
  }
}

TEST(sm_threat_base_duplicate_test, the_row_with_an_equal_tag_decides_first) {
  threat_db_fixture_t fixture;
  std::int64_t const t = fixture.add_threat("/s/d", 5, 6);
  // The latest detection is on another share and unlocked; the older one on this share is locked.
  fixture.add_history(own(t, 100, "share", 1, threat_db_fixture_t::report_blob("/s/d")));
  fixture.add_history(own(t, 200, "other", 0, threat_db_fixture_t::report_blob("/s/d")));
  sm_threat_t threat;
  threat.path = "/s/d";
  threat.dev = 5;
  threat.ino = 6;
  threat.tag = "share";
  threat.locked = true;
  threat.report = threat_db_fixture_t::report("/s/d");
  sm_db_t db(fixture.db_path(), "Threats base: ");
  EXPECT_TRUE(sm_threat_base_t::is_duplicate(db, threat));
  threat.tag = "third";
  EXPECT_FALSE(sm_threat_base_t::is_duplicate(db, threat));
}

TEST(sm_threat_base_task_test, defaults_and_order) {
  task_t const none;
  EXPECT_EQ(-1, none.threat_id);
  EXPECT_EQ(0, none.moment);
  EXPECT_TRUE((task_t{9, 1} < task_t{1, 2}));
  EXPECT_TRUE((task_t{1, 2} < task_t{2, 2}));
  EXPECT_FALSE((task_t{2, 2} < task_t{2, 2}));
  EXPECT_TRUE((task_t{2, 2} == task_t{2, 2}));
}

}  // namespace
