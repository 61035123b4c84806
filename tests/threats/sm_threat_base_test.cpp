#include "threats/sm_threat_base.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
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

row_t neutralizing(std::int64_t threat, std::int64_t moment) { return row_t{threat, moment, {}, {}, {}, 3, 1, true}; }

row_t foreign(std::int64_t threat, std::int64_t moment, std::optional<std::string> report = std::nullopt) {
  return row_t{threat, moment, "x", 1, std::move(report), 1, 41};
}

class sm_threat_base_test : public ::testing::Test {
 protected:
  sm_db_t& db() {
    if (!connection) connection.reset(new sm_db_t(fixture.db_path(), "Threats base: "));
    return *connection;
  }
  std::set<std::string> prepared() { return prepared_statements(db().handle()); }

  threat_db_fixture_t fixture;
  std::unique_ptr<sm_db_t> connection;
};

TEST_F(sm_threat_base_test, find_history) {
  std::int64_t const a = fixture.add_threat("/s/a", 1, 2);
  std::int64_t const ha = fixture.add_history({a, 100, "s", 1});
  std::int64_t const b = fixture.add_threat("/s/b", 1, 3);
  std::int64_t const hb = fixture.add_history({b, 100, "s", 1});
  std::int64_t const hn = fixture.add_history(neutralizing(b, 200));

  EXPECT_EQ(std::make_pair(a, false), sm_threat_base_t::find_history(db(), ha));
  EXPECT_EQ(std::make_pair(b, true), sm_threat_base_t::find_history(db(), hb));
  EXPECT_EQ(std::make_pair(b, true), sm_threat_base_t::find_history(db(), hn));
  EXPECT_EQ(std::make_pair(std::int64_t(-1), false), sm_threat_base_t::find_history(db(), 999));
  EXPECT_EQ(std::set<std::string>{find_history_sql}, prepared());
}

TEST_F(sm_threat_base_test, load_next_task) {
  // Ids are assigned in insertion order, 1 to 8.
  std::int64_t const a = fixture.add_threat("/s/a", 1, 1);
  fixture.add_history({a, 100, "s", 1});
  std::int64_t const neutralized = fixture.add_threat("/s/b", 1, 2);
  fixture.add_history({neutralized, 50, "s", 1});
  fixture.add_history(neutralizing(neutralized, 51));
  std::int64_t const unlocked_later = fixture.add_threat("/s/c", 1, 3);
  fixture.add_history({unlocked_later, 60, "s", 1});
  fixture.add_history({unlocked_later, 70, "s", 0});
  fixture.add_history({fixture.add_threat("/s/d", 1, 4), 40, "s", std::nullopt});
  fixture.add_history(foreign(fixture.add_threat("/s/e", 1, 5), 30));
  std::int64_t const f = fixture.add_threat("/s/f", 1, 6);
  fixture.add_history({f, 100, "s", 1});
  std::int64_t const g = fixture.add_threat("/s/g", 1, 7);
  fixture.add_history({g, 20, "s", 1});
  std::int64_t const other_event = fixture.add_threat("/s/h", 1, 8);
  ASSERT_EQ(8, other_event);
  fixture.add_history({other_event, 10, "s", 1, std::nullopt, 2});

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
  EXPECT_EQ(std::set<std::string>{next_task_sql}, prepared());
}

TEST_F(sm_threat_base_test, check_locked) {
  fixture.add_history({fixture.add_threat("/s/a", 1, 2), 100, "share", 1});
  fixture.add_history({fixture.add_threat("/s/n", 1, 2), 100, "share", std::nullopt});
  fixture.add_history({fixture.add_threat("/s/z", 1, 2), 100, "share", 0});
  std::int64_t const released = fixture.add_threat("/s/released", 1, 2);
  fixture.add_history({released, 100, "share", 1});
  fixture.add_history({released, 101, "share", 0});
  std::int64_t const relocked = fixture.add_threat("/s/relocked", 1, 2);
  fixture.add_history({relocked, 100, "share", 0});
  fixture.add_history({relocked, 101, "share", 1});
  std::int64_t const neutralized = fixture.add_threat("/s/neutralized", 1, 2);
  fixture.add_history({neutralized, 100, "share", 1});
  fixture.add_history(neutralizing(neutralized, 101));
  fixture.add_history({fixture.add_threat("/s/text", 1, 2, true), 100, "share", 1});
  std::int64_t const big = fixture.add_threat("/s/big", big_dev, max_ino);
  fixture.add_history({big, 100, "share", 1});
  fixture.add_history({fixture.add_threat("/s/foreign", 1, 2), 100, "share", 1, std::nullopt, 1, 41});
  fixture.add_history({fixture.add_threat("/s/notag", 1, 2), 100, std::nullopt, 1});

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
  std::string const where = " FROM session WHERE threat_id = " + std::to_string(big) + ";";
  EXPECT_EQ(std::numeric_limits<std::int64_t>::min() + 5, fixture.query_int("SELECT dev" + where));
  EXPECT_EQ(-1, fixture.query_int("SELECT ino" + where));
  EXPECT_EQ(std::set<std::string>{check_locked_sql}, prepared());
}

// Each step runs on the database the previous ones left.
TEST_F(sm_threat_base_test, update_synced) {
  std::int64_t const t = fixture.add_threat("/s/a", 1, 2);
  std::int64_t const h = fixture.add_history({t, 100});
  std::int64_t const u = fixture.add_threat("/s/b", 1, 2);
  fixture.exec("UPDATE threat SET remote_ip = 'first-ip', remote_user = 'first' WHERE threat_id = 2;");
  fixture.add_history({u, 100, "one", 1});
  std::int64_t const second = fixture.add_history({u, 200});
  auto update = [&](std::int64_t history_id, bool locked, char const* tag, char const* ip, char const* user,
                    char const* domain) {
    sm_threat_t threat;
    threat.locked = locked;
    threat.tag = tag;
    if (ip) threat.remote_user.set_ip(ip);
    if (user) threat.remote_user.set_user(user);
    if (domain) threat.remote_user.set_domain(domain);
    sm_threat_base_t::update_synced(db(), threat, history_id);
    return fixture
               .query_text(
                   "SELECT group_concat(quote(remote_ip)||','||quote(remote_user)||','||"
                   "quote(remote_domain), ';') FROM threat;")
               .value_or("") +
           "|" +
           fixture.query_text("SELECT group_concat(quote(tag)||','||quote(locked), ';') FROM history;").value_or("");
  };
  EXPECT_EQ("'10.0.0.1','alice','CORP';'first-ip','first',NULL|'share',1;'one',1;NULL,NULL",
            update(h, true, "share", "10.0.0.1", "alice", "CORP"));
  // An absent field is written as NULL, also where the previous use bound one.
  EXPECT_EQ("'10.0.0.2',NULL,NULL;'first-ip','first',NULL|'renamed',0;'one',1;NULL,NULL",
            update(h, false, "renamed", "10.0.0.2", nullptr, nullptr));
  EXPECT_EQ("NULL,NULL,NULL;'first-ip','first',NULL|'',1;'one',1;NULL,NULL",
            update(h, true, "", nullptr, nullptr, nullptr));
  // A threat past its first history row keeps its remote user.
  EXPECT_EQ("NULL,NULL,NULL;'first-ip','first',NULL|'',1;'one',1;'two',1",
            update(second, true, "two", "10.9.9.9", "mallory", "EVIL"));
  // No such history row: nothing changes.
  EXPECT_EQ("NULL,NULL,NULL;'first-ip','first',NULL|'',1;'one',1;'two',1",
            update(999, false, "three", "10.9.9.9", nullptr, nullptr));
  EXPECT_EQ((std::set<std::string>{update_remote_user_sql, update_history_sql}), prepared());
}

// What a load filled in, on one line.
std::string fields(std::shared_ptr<sm_threat_t> const& threat) {
  if (!threat) return "(none)";
  std::ostringstream out;
  out << *threat << " moment=" << threat->moment << " locked=" << threat->locked
      << " neutralized=" << threat->neutralized << " event=" << threat->event << " origin=" << threat->origin
      << " has_paths=" << threat->has_paths << " report=" << threat->report.object() << ","
      << threat->report.virus_size();
  return out.str();
}

class sm_threat_base_load_test : public sm_threat_base_test {
 protected:
  void SetUp() override {
    // One threat of this daemon with two detections and a later event of another component.
    fixture.add_threat("/s/a\xff\x01 b", big_dev, max_ino);
    fixture.add_history({1, 100, "first", std::nullopt, threat_db_fixture_t::report_blob("old")});
    fixture.add_history({1, 200, "second", 1, threat_db_fixture_t::report_blob("new")});
    fixture.add_history({1, 300, std::nullopt, std::nullopt, std::nullopt, 2, 7});
  }
};

TEST_F(sm_threat_base_load_test, load_by_history_id) {
  // The tag of the latest own detection, the latest report, the rest from the given row.
  std::string const head =
      "threat #1: dev=9223372036854775813 ino=18446744073709551615 path=\"/s/a\xff\x01 b\" "
      "tag='second' moment=";
  EXPECT_EQ(head + "100 locked=0 neutralized=0 event=1 origin=40 has_paths=1 report=new,1",
            fields(sm_threat_base_t::load_by_history_id(db(), 1)));
  EXPECT_EQ(head + "200 locked=1 neutralized=0 event=1 origin=40 has_paths=1 report=new,1",
            fields(sm_threat_base_t::load_by_history_id(db(), 2)));
  EXPECT_EQ(head + "300 locked=0 neutralized=0 event=2 origin=7 has_paths=1 report=new,1",
            fields(sm_threat_base_t::load_by_history_id(db(), 3)));
  EXPECT_EQ("(none)", fields(sm_threat_base_t::load_by_history_id(db(), 999)));
  EXPECT_EQ(std::set<std::string>{load_by_history_id_sql}, prepared());
}

TEST_F(sm_threat_base_load_test, load_reads_the_latest_own_detection) {
  EXPECT_EQ(
      "threat #1: dev=9223372036854775813 ino=18446744073709551615 path=\"/s/a\xff\x01 b\" tag='second' moment=200 "
      "locked=1 neutralized=0 event=1 origin=40 has_paths=0 report=new,1",
      fields(sm_threat_base_t::load(db(), 1)));
  EXPECT_EQ("(none)", fields(sm_threat_base_t::load(db(), 999)));
  EXPECT_EQ(std::set<std::string>{load_sql}, prepared());
}

TEST_F(sm_threat_base_load_test, null_locked_and_tag_neutralized_and_has_paths) {
  std::int64_t const n = fixture.add_threat("/s/n", 1, 2);
  std::int64_t const h =
      fixture.add_history({n, 50, std::nullopt, std::nullopt, threat_db_fixture_t::report_blob("n")});
  fixture.add_history(neutralizing(n, 60));
  // Another live threat of the path, but not detected by this daemon.
  fixture.add_history(foreign(fixture.add_threat("/s/n", 1, 4), 65, threat_db_fixture_t::report_blob("n")));
  std::string const loaded =
      "threat #2: dev=1 ino=2 path=\"/s/n\" tag='' moment=50 locked=0 neutralized=1 event=1 "
      "origin=40 has_paths=";
  EXPECT_EQ(loaded + "0 report=n,1", fields(sm_threat_base_t::load(db(), n)));
  EXPECT_EQ(loaded + "0 report=n,1", fields(sm_threat_base_t::load_by_history_id(db(), h)));
  // A live detection of the same path by this daemon.
  fixture.add_history({fixture.add_threat("/s/n", 1, 3), 70, "x", 1, threat_db_fixture_t::report_blob("n")});
  EXPECT_EQ(loaded + "1 report=n,1", fields(sm_threat_base_t::load_by_history_id(db(), h)));
}

TEST_F(sm_threat_base_load_test, unparsable_missing_or_foreign_reports_load_nothing) {
  struct case_t {
    char const* name;
    std::optional<std::string> blob;
    std::int64_t origin;
  };
  std::vector<case_t> const cases = {
      {"garbage", std::string("\xff\xff\xff", 3), 40},
      {"empty blob", std::string(), 40},
      {"no object", qn::ScanReport().SerializePartialAsString(), 40},
      {"no report", std::nullopt, 40},
      {"no own detection", threat_db_fixture_t::report_blob("f"), 41},
  };
  for (auto const& c : cases) {
    std::int64_t const bad = fixture.add_threat(std::string("/s/bad-") + c.name, 1, 2);
    std::int64_t const h = fixture.add_history({bad, 50, "x", 1, c.blob, 1, c.origin});
    EXPECT_FALSE(sm_threat_base_t::load(db(), bad)) << c.name;
    EXPECT_FALSE(sm_threat_base_t::load_by_history_id(db(), h)) << c.name;
  }
}

sm_threat_t new_detection(std::uint64_t ino, std::string const& tag, bool locked, std::string const& virus) {
  sm_threat_t threat;
  threat.path = "/s/d";
  threat.dev = big_dev;
  threat.ino = ino;
  threat.tag = tag;
  threat.locked = locked;
  threat.report = threat_db_fixture_t::report("/s/d", virus);
  return threat;
}

TEST(sm_threat_base_duplicate_test, decides_by_lock_tag_and_report) {
  struct case_t {
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
  std::vector<case_t> const cases = {
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
        {t, 100, c.stored_tag, c.stored_locked,
         c.stored_report_parses ? threat_db_fixture_t::report_blob("/s/d") : std::string("\x0a\x05zz", 4)});
    if (c.stored_neutralized) fixture.add_history(neutralizing(t, 101));
    sm_db_t db(fixture.db_path(), "Threats base: ");
    EXPECT_EQ(c.expected,
              sm_threat_base_t::is_duplicate(db, new_detection(c.new_ino, c.new_tag, c.new_locked, c.new_virus)))
        << c.name;
    EXPECT_EQ(std::set<std::string>{duplicate_sql}, prepared_statements(db.handle())) << c.name;
  }
}

TEST(sm_threat_base_duplicate_test, the_row_with_an_equal_tag_decides_first) {
  threat_db_fixture_t fixture;
  std::int64_t const t = fixture.add_threat("/s/d", big_dev, 6);
  // The latest detection is on another share and unlocked; the older one on this share is locked.
  fixture.add_history({t, 100, "share", 1, threat_db_fixture_t::report_blob("/s/d")});
  fixture.add_history({t, 200, "other", 0, threat_db_fixture_t::report_blob("/s/d")});
  sm_db_t db(fixture.db_path(), "Threats base: ");
  EXPECT_TRUE(sm_threat_base_t::is_duplicate(db, new_detection(6, "share", true, "EICAR-Test")));
  EXPECT_FALSE(sm_threat_base_t::is_duplicate(db, new_detection(6, "third", true, "EICAR-Test")));
}

TEST(sm_threat_base_task_test, order_is_by_moment_then_threat_id) {
  EXPECT_TRUE((task_t{9, 1} < task_t{1, 2}));
  EXPECT_TRUE((task_t{1, 2} < task_t{2, 2}));
  EXPECT_FALSE((task_t{2, 2} < task_t{2, 2}));
  EXPECT_FALSE((task_t{2, 2} < task_t{1, 2}));
  EXPECT_TRUE((task_t{2, 2} == task_t{2, 2}));
  EXPECT_FALSE((task_t{2, 2} == task_t{2, 3}));
}

}  // namespace
