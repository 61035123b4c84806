// The threat statements' effects on real rows of a database laid out as the file checker does.
#include "threats/sm_threat_base.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/threat_db_fixture.h"

namespace {

using row_t = threat_db_fixture_t::history_row_t;
using task_t = sm_threat_base_t::task_t;

std::uint64_t const big_dev = (std::uint64_t(1) << 63) + 5;
std::uint64_t const max_ino = std::numeric_limits<std::uint64_t>::max();
std::string const report = threat_db_fixture_t::report_blob("/s/d");

row_t neutralizing(std::int64_t moment) { return row_t{0, moment, {}, {}, {}, 3, 1, true}; }

// Threats with ids 1, 2, ... in table order, each with its history rows (ids 1, 2, ... likewise).
struct threat_rows_t {
  std::string path;
  std::uint64_t dev, ino;
  std::vector<row_t> history;
  bool path_as_text = false;
};

void fill(threat_db_fixture_t& fixture, std::vector<threat_rows_t> const& threats) {
  for (threat_rows_t const& t : threats) {
    std::int64_t const id = fixture.add_threat(t.path, t.dev, t.ino, t.path_as_text);
    for (row_t row : t.history) {
      row.threat_id = id;
      fixture.add_history(row);
    }
  }
}

TEST(sm_threat_base, lock_check_next_task_and_history_lookup) {
  threat_db_fixture_t fixture;
  fill(fixture, {
                    {"/s/a", 1, 2, {{0, 100, "share", 1}}},                               // 1, h1
                    {"/s/n", 1, 2, {{0, 100, "share", std::nullopt}}},                    // 2
                    {"/s/z", 1, 2, {{0, 100, "share", 0}}},                               // 3
                    {"/s/released", 1, 2, {{0, 100, "share", 1}, {0, 101, "share", 0}}},  // 4, h4 h5
                    {"/s/relocked", 1, 2, {{0, 100, "share", 0}, {0, 101, "share", 1}}},  // 5, h6 h7
                    {"/s/neutralized", 1, 2, {{0, 100, "share", 1}, neutralizing(101)}},  // 6, h8 h9
                    {"/s/text", 1, 2, {{0, 100, "share", 1}}, true},                      // 7
                    {"/s/big", big_dev, max_ino, {{0, 100, "share", 1}}},                 // 8
                    {"/s/foreign", 1, 2, {{0, 100, "share", 1, std::nullopt, 1, 41}}},    // 9
                    {"/s/notag", 1, 2, {{0, 100, std::nullopt, 1}}},                      // 10
                    {"/s/early", 1, 2, {{0, 20, "s", 1}}},                                // 11
                    {"/s/other-event", 1, 2, {{0, 10, "s", 1, std::nullopt, 2}}},         // 12
                });
  sm_db_t db(fixture.db_path(), "Threats base: ");
  struct lock_t {
    char const* path;
    std::uint64_t dev, ino;
    char const* tag;
    bool locked;
  };
  for (lock_t const& c : std::vector<lock_t>{{"/s/a", 1, 2, "share", true},
                                             {"/s/a", 1, 2, "other", false},
                                             {"/s/a", 9, 2, "share", false},
                                             {"/s/a", 1, 9, "share", false},
                                             {"/s/a/", 1, 2, "share", false},
                                             {"/s/n", 1, 2, "share", false},
                                             {"/s/z", 1, 2, "share", false},
                                             {"/s/released", 1, 2, "share", false},
                                             {"/s/relocked", 1, 2, "share", true},
                                             {"/s/neutralized", 1, 2, "share", false},
                                             {"/s/text", 1, 2, "share", false},
                                             {"/s/big", big_dev, max_ino, "share", true},
                                             {"/s/big", 5, max_ino, "share", false},
                                             {"/s/foreign", 1, 2, "share", false},
                                             {"/s/notag", 1, 2, "", false},
                                             {"/s/nothing", 1, 2, "share", false}})
    EXPECT_EQ(c.locked, sm_threat_base_t::check_locked(db, c.path, c.dev, c.ino, c.tag)) << c.path << " " << c.tag;
  // Stored as the signed 64-bit images of the numbers.
  EXPECT_EQ(std::numeric_limits<std::int64_t>::min() + 5,
            fixture.query_int("SELECT dev FROM session WHERE threat_id = 8;"));
  EXPECT_EQ(-1, fixture.query_int("SELECT ino FROM session WHERE threat_id = 8;"));

  // The next locked, live threat of this daemon after the cursor, in (moment, threat id) order.
  for (auto const& c : std::vector<std::pair<task_t, task_t>>{{{-1, 0}, {11, 20}},
                                                              {{0, 20}, {11, 20}},
                                                              {{11, 20}, {1, 100}},
                                                              {{1, 100}, {5, 100}},
                                                              {{5, 100}, {7, 100}},
                                                              {{10, 100}, {5, 101}},
                                                              {{5, 101}, {-1, 0}}}) {
    task_t const next = sm_threat_base_t::load_next_task(db, c.first);
    EXPECT_TRUE(c.second == next) << c.first.threat_id << "," << c.first.moment << " -> " << next.threat_id << ","
                                  << next.moment;
  }
  EXPECT_TRUE((task_t{9, 1} < task_t{1, 2}) && (task_t{1, 2} < task_t{2, 2}) && !(task_t{2, 2} < task_t{2, 2}));

  EXPECT_EQ(std::make_pair(std::int64_t(1), false), sm_threat_base_t::find_history(db, 1));
  EXPECT_EQ(std::make_pair(std::int64_t(6), true), sm_threat_base_t::find_history(db, 8));
  EXPECT_EQ(std::make_pair(std::int64_t(6), true), sm_threat_base_t::find_history(db, 9));
  EXPECT_EQ(std::make_pair(std::int64_t(-1), false), sm_threat_base_t::find_history(db, 999));
}

// Each step runs on the database the previous ones left.
TEST(sm_threat_base, update_synced_writes_lock_and_tag_and_the_remote_user_of_a_first_detection_only) {
  threat_db_fixture_t fixture;
  fill(fixture, {{"/s/a", 1, 2, {{0, 100}}}, {"/s/b", 1, 2, {{0, 100, "one", 1}, {0, 200}}}});
  fixture.exec("UPDATE threat SET remote_ip = 'first-ip', remote_user = 'first' WHERE threat_id = 2;");
  sm_db_t db(fixture.db_path(), "Threats base: ");
  auto update = [&](std::int64_t history_id, bool locked, char const* tag, char const* ip, char const* user,
                    char const* domain) {
    sm_threat_t threat;
    threat.locked = locked;
    threat.tag = tag;
    if (ip) threat.remote_user.set_ip(ip);
    if (user) threat.remote_user.set_user(user);
    if (domain) threat.remote_user.set_domain(domain);
    sm_threat_base_t::update_synced(db, threat, history_id);
    return *fixture.query_text(
               "SELECT group_concat(quote(remote_ip)||','||quote(remote_user)||','||"
               "quote(remote_domain), ';') FROM threat;") +
           "|" + *fixture.query_text("SELECT group_concat(quote(tag)||','||quote(locked), ';') FROM history;");
  };
  EXPECT_EQ("'10.0.0.1','alice','CORP';'first-ip','first',NULL|'share',1;'one',1;NULL,NULL",
            update(1, true, "share", "10.0.0.1", "alice", "CORP"));
  // An absent field is written as NULL, also where the previous use bound one.
  EXPECT_EQ("'10.0.0.2',NULL,NULL;'first-ip','first',NULL|'renamed',0;'one',1;NULL,NULL",
            update(1, false, "renamed", "10.0.0.2", nullptr, nullptr));
  // A threat past its first history row keeps its remote user.
  EXPECT_EQ("'10.0.0.2',NULL,NULL;'first-ip','first',NULL|'renamed',0;'one',1;'two',1",
            update(3, true, "two", "10.9.9.9", "mallory", "EVIL"));
  // No such history row: nothing changes.
  EXPECT_EQ("'10.0.0.2',NULL,NULL;'first-ip','first',NULL|'renamed',0;'one',1;'two',1",
            update(999, false, "three", "10.9.9.9", nullptr, nullptr));
}

// What a load filled in, on one line.
std::string fields(std::shared_ptr<sm_threat_t> const& threat) {
  if (!threat) return "(none)";
  std::ostringstream out;
  out << *threat << " moment=" << threat->moment << " locked=" << threat->locked
      << " neutralized=" << threat->neutralized << " event=" << threat->event << " origin=" << threat->origin
      << " has_paths=" << threat->has_paths << " report=" << threat->report.object();
  return out.str();
}

TEST(sm_threat_base, loads_by_threat_and_by_history_row) {
  threat_db_fixture_t fixture;
  std::string const blob = std::string("\xff\xff\xff", 3);
  fill(fixture,
       {// 1: two own detections and a later event of another component; h1 to h3
        {"/s/a\xff\x01 b",
         big_dev,
         max_ino,
         {{0, 100, "first", std::nullopt, threat_db_fixture_t::report_blob("old")},
          {0, 200, "second", 1, threat_db_fixture_t::report_blob("new")},
          {0, 300, std::nullopt, std::nullopt, std::nullopt, 2, 7}}},
        // 2: neutralized, NULL tag and lock; 3: another live threat of its path, not detected here; h4 to h6
        {"/s/n", 1, 2, {{0, 50, std::nullopt, std::nullopt, threat_db_fixture_t::report_blob("n")}, neutralizing(60)}},
        {"/s/n", 1, 4, {{0, 65, "x", 1, threat_db_fixture_t::report_blob("n"), 1, 41}}},
        // Reports that load nothing: garbage, empty, without object, none, not by this daemon; h7 to h11
        {"/s/bad1", 1, 2, {{0, 50, "x", 1, blob}}},
        {"/s/bad2", 1, 2, {{0, 50, "x", 1, std::string()}}},
        {"/s/bad3", 1, 2, {{0, 50, "x", 1, qn::ScanReport().SerializePartialAsString()}}},
        {"/s/bad4", 1, 2, {{0, 50, "x", 1}}},
        {"/s/bad5", 1, 2, {{0, 50, "x", 1, threat_db_fixture_t::report_blob("f"), 1, 41}}}});
  sm_db_t db(fixture.db_path(), "Threats base: ");
  std::string const a =
      "threat #1: dev=9223372036854775813 ino=18446744073709551615 path=\"/s/a\xff\x01 b\" tag='second' ";
  std::string const n =
      "threat #2: dev=1 ino=2 path=\"/s/n\" tag='' moment=50 locked=0 neutralized=1 event=1 origin=40 ";
  // By history row: the tag of the latest own detection, the latest report, the rest from the row.
  EXPECT_EQ(a + "moment=100 locked=0 neutralized=0 event=1 origin=40 has_paths=1 report=new",
            fields(sm_threat_base_t::load_by_history_id(db, 1)));
  EXPECT_EQ(a + "moment=200 locked=1 neutralized=0 event=1 origin=40 has_paths=1 report=new",
            fields(sm_threat_base_t::load_by_history_id(db, 2)));
  EXPECT_EQ(a + "moment=300 locked=0 neutralized=0 event=2 origin=7 has_paths=1 report=new",
            fields(sm_threat_base_t::load_by_history_id(db, 3)));
  EXPECT_EQ(n + "has_paths=0 report=n", fields(sm_threat_base_t::load_by_history_id(db, 4)));
  // By threat: the latest own detection.
  EXPECT_EQ(a + "moment=200 locked=1 neutralized=0 event=1 origin=40 has_paths=0 report=new",
            fields(sm_threat_base_t::load(db, 1)));
  EXPECT_EQ(n + "has_paths=0 report=n", fields(sm_threat_base_t::load(db, 2)));
  for (std::int64_t id : {4, 5, 6, 7, 8, 999}) {
    EXPECT_FALSE(sm_threat_base_t::load(db, id)) << id;
    EXPECT_FALSE(sm_threat_base_t::load_by_history_id(db, id + 3)) << id;
  }
  // A live detection of the same path by this daemon.
  fill(fixture, {{"/s/n", 1, 3, {{0, 70, "x", 1, threat_db_fixture_t::report_blob("n")}}}});
  EXPECT_EQ(n + "has_paths=1 report=n", fields(sm_threat_base_t::load_by_history_id(db, 4)));
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

TEST(sm_threat_base, duplicate_is_decided_by_lock_tag_and_report) {
  std::string const e = "Standard-Test-File", garbage("\x0a\x05zz", 4);
  struct case_t {
    std::vector<row_t> stored;  // of the threat "/s/d", ino 6
    bool new_locked;
    std::string new_tag, new_virus;
    std::uint64_t new_ino;
    bool duplicate;
  };
  int row = 0;
  for (case_t const& c : std::vector<case_t>{
           {{{0, 100, "share", 1, report}}, true, "share", e, 6, true},
           {{{0, 100, "share", 1, report}}, false, "share", e, 6, true},
           {{{0, 100, "share", 1, report}}, true, "share", "Other", 6, false},
           {{{0, 100, "share", 1, garbage}}, true, "share", e, 6, false},
           {{{0, 100, "share", 0, report}}, true, "share", e, 6, false},
           {{{0, 100, "share", std::nullopt, report}}, true, "share", e, 6, false},
           {{{0, 100, "share", 0, report}}, false, "share", e, 6, true},
           {{{0, 100, "share", 0, report}}, false, "share", "Other", 6, false},
           {{{0, 100, "share", 0, garbage}}, false, "share", e, 6, false},
           {{{0, 100, "share", 1, report}}, true, "other", e, 6, false},
           {{{0, 100, "share", 1, report}}, false, "other", e, 6, true},
           {{{0, 100, std::nullopt, 1, report}}, true, "share", e, 6, false},
           {{{0, 100, std::nullopt, 1, report}}, false, "share", e, 6, true},
           {{{0, 100, "share", 1, report}}, true, "share", e, 7, false},  // another file
           {{{0, 100, "share", 1, report}, neutralizing(101)}, true, "share", e, 6, false},
           // The row with an equal tag decides before a later one of another share.
           {{{0, 100, "share", 1, report}, {0, 200, "other", 0, report}}, true, "share", e, 6, true},
           {{{0, 100, "share", 1, report}, {0, 200, "other", 0, report}}, true, "third", e, 6, false},
       }) {
    threat_db_fixture_t fixture;
    fill(fixture, {{"/s/d", big_dev, 6, c.stored}});
    sm_db_t db(fixture.db_path(), "Threats base: ");
    EXPECT_EQ(c.duplicate,
              sm_threat_base_t::is_duplicate(db, new_detection(c.new_ino, c.new_tag, c.new_locked, c.new_virus)))
        << "row " << row++;
  }
}

}  // namespace
