// The threat statements' effects on real rows of a database laid out as the file checker does.
#include "threats/sm_threat_base.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/threat_db_fixture.h"
#include "threats/sm_report_compare.h"

namespace {

using row_t = threat_db_fixture_t::history_row_t;
using task_t = sm_threat_base_t::task_t;

std::uint64_t const big_dev = (std::uint64_t(1) << 63) + 5, max_ino = ~std::uint64_t(0);
std::string const report = threat_db_fixture_t::report_blob("/s/d");

row_t neutralizing(std::int64_t moment) { return threat_db_fixture_t::neutralizing(0, moment); }

TEST(sm_threat_base, lock_check_and_next_task) {
  threat_db_fixture_t fixture;
  fixture.fill({
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
  // path, dev, ino, tag, locked
  std::tuple<char const*, std::uint64_t, std::uint64_t, char const*, bool> const locks[] = {
      {"/s/a", 1, 2, "share", true},          {"/s/a", 1, 2, "other", false},
      {"/s/a", 9, 2, "share", false},         {"/s/a", 1, 9, "share", false},
      {"/s/a/", 1, 2, "share", false},        {"/s/n", 1, 2, "share", false},
      {"/s/z", 1, 2, "share", false},         {"/s/released", 1, 2, "share", false},
      {"/s/relocked", 1, 2, "share", true},   {"/s/neutralized", 1, 2, "share", false},
      {"/s/text", 1, 2, "share", false},      {"/s/big", big_dev, max_ino, "share", true},
      {"/s/big", 5, max_ino, "share", false}, {"/s/foreign", 1, 2, "share", false},
      {"/s/notag", 1, 2, "", false},          {"/s/nothing", 1, 2, "share", false}};
  for (auto const& [path, dev, ino, tag, locked] : locks)
    EXPECT_EQ(locked, sm_threat_base_t::check_locked(db, path, dev, ino, tag)) << path << " " << tag;

  // The next locked, live threat of this daemon after the cursor, in (moment, threat id) order:
  // a later moment comes after the cursor whatever its threat id; 5 only at its first detection.
  std::pair<task_t, task_t> const walk[] = {{{-1, 0}, {11, 20}},  {{0, 20}, {11, 20}},  {{11, 20}, {1, 100}},
                                            {{1, 100}, {5, 100}}, {{5, 100}, {7, 100}}, {{10, 100}, {-1, 0}}};
  for (auto const& [cursor, next] : walk)
    EXPECT_EQ(next, sm_threat_base_t::load_next_task(db, cursor)) << cursor.threat_id << "," << cursor.moment;
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
  auto const blob = &threat_db_fixture_t::report_blob;
  std::string const nul("n\0ew", 4);  // a report holding a NUL byte
  // 1: two own detections, then an event of another component (h1 to h3); 2: neutralized (h4, h5); 3: another
  // live threat of its path, not detected here (h6); then reports that load nothing: garbage, without object, none.
  fixture.fill({{"/s/a\xff b",
                 big_dev,
                 max_ino,
                 {{0, 100, "first", {}, blob("old")}, {0, 200, "second", 1, blob(nul)}, {0, 300, {}, {}, {}, 2, 7}}},
                {"/s/n", 1, 2, {{0, 50, {}, {}, blob("n")}, neutralizing(60)}},
                {"/s/n", 1, 4, {{0, 65, "x", 1, blob("n"), 1, 41}}},
                {"/s/bad", 1, 2, {{0, 50, "x", 1, std::string("\xff\xff")}}},
                {"/s/bad", 1, 2, {{0, 50, "x", 1, qn::ScanReport().SerializePartialAsString()}}},
                {"/s/bad", 1, 2, {{0, 50, "x", 1}}}});
  sm_db_t db(fixture.db_path(), "");
  std::string const a = "threat #1: dev=9223372036854775813 ino=18446744073709551615 path=\"/s/a\xff b\" tag='second'";
  // By history row: the tag of the latest own detection, the latest report, the rest from the row.
  EXPECT_EQ(a + " moment=300 locked=0 neutralized=0 event=2 origin=7 has_paths=1 report=" + nul,
            fields(sm_threat_base_t::load_by_history_id(db, 3)));
  // By threat: the latest own detection.
  EXPECT_EQ(a + " moment=200 locked=1 neutralized=0 event=1 origin=40 has_paths=0 report=" + nul,
            fields(sm_threat_base_t::load(db, 1)));
  for (std::int64_t id : {4, 5, 6, 999})
    EXPECT_EQ("(none)(none)",
              fields(sm_threat_base_t::load(db, id)) + fields(sm_threat_base_t::load_by_history_id(db, id + 3)));
  // A threat has paths while a live detection of its path by this daemon exists.
  std::string const n =
      "threat #2: dev=1 ino=2 path=\"/s/n\" tag='' moment=50 locked=0 neutralized=1 event=1 origin=40";
  EXPECT_EQ(n + " has_paths=0 report=n", fields(sm_threat_base_t::load_by_history_id(db, 4)));
  fixture.fill({{"/s/n", 1, 3, {{0, 70, "x", 1, blob("n")}}}});
  EXPECT_EQ(n + " has_paths=1 report=n", fields(sm_threat_base_t::load_by_history_id(db, 4)));
}

TEST(sm_threat_base, duplicate_is_decided_by_lock_tag_and_report) {
  std::string const e = "Standard-Test-File", garbage("\x0a\x05zz", 4);
  // The rows of the threat "/s/d" (ino 6); the new detection's lock, tag, virus and ino; whether it is a duplicate.
  std::tuple<std::vector<row_t>, bool, char const*, std::string, std::uint64_t, bool> const cases[] = {
      {{{0, 100, "share", 1, report}}, true, "share", e, 6, true},
      {{{0, 100, "share", 1, report}}, false, "share", e, 6, true},
      {{{0, 100, "share", 1, report}}, true, "share", "Other", 6, false},
      {{{0, 100, "share", 1, garbage}}, true, "share", e, 6, false},
      {{{0, 100, "share", 0, report}}, true, "share", e, 6, false},
      {{{0, 100, "share", 0, report}}, false, "share", e, 6, true},
      {{{0, 100, "share", 1, report}}, true, "other", e, 6, false},
      {{{0, 100, "share", 1, report}}, false, "other", e, 6, true},
      {{{0, 100, "share", 1, report}}, true, "share", e, 7, false},  // another file
      {{{0, 100, "share", 1, report}, neutralizing(101)}, true, "share", e, 6, false},
      // The row with an equal tag decides before a later one of another share.
      {{{0, 100, "share", 1, report}, {0, 200, "other", 0, report}}, true, "share", e, 6, true},
      {{{0, 100, "share", 1, report}, {0, 200, "other", 0, report}}, true, "third", e, 6, false},
  };
  int row = 0;
  for (auto const& [stored, locked, tag, virus, ino, duplicate] : cases) {
    threat_db_fixture_t fixture;
    fixture.fill({{"/s/d", big_dev, 6, stored}});
    sm_db_t db(fixture.db_path(), "Threats base: ");
    sm_threat_t threat;
    threat.path = "/s/d", threat.dev = big_dev, threat.ino = ino, threat.tag = tag, threat.locked = locked;
    threat.report = threat_db_fixture_t::report("/s/d", virus);
    EXPECT_EQ(duplicate, sm_threat_base_t::is_duplicate(db, threat)) << "row " << row++;
  }
}

// One change per kind of comparison: a scalar, a presence, repeated values and their order,
// a sub-message, the nested items, and the fields left out.
TEST(sm_report_compare, compared_and_ignored_fields) {
  qn::ScanReport base;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(
      R"(object: "/s/a.zip" size: 10 packer: "upx" archive { type: SE_ARCHIVE name: "zip" }
         virus { type: SE_KNOWN_VIRUS name: "Standard-Test-File" } virus { type: SE_DIALER name: "Second" }
         item { object: "inner.exe" virus { type: SE_ADWARE name: "Ad" } })",
      &base));
  std::pair<void (*)(qn::ScanReport&), bool> const changes[] = {
      {[](qn::ScanReport& r) { r.set_object("/s/b.zip"); }, false},
      {[](qn::ScanReport& r) { r.clear_size(); }, false},
      {[](qn::ScanReport& r) { r.set_cured(false); }, false},  // set to the default is not unset
      {[](qn::ScanReport& r) { r.add_packer("upx"); }, false},
      {[](qn::ScanReport& r) { r.mutable_archive()->set_name("rar"); }, false},
      {[](qn::ScanReport& r) { r.mutable_virus(0)->set_type(qn::SE_JOKE); }, false},
      {[](qn::ScanReport& r) { r.mutable_virus(0)->Swap(r.mutable_virus(1)); }, false},
      {[](qn::ScanReport& r) { r.mutable_item(0)->mutable_virus(0)->set_name("Ad2"); }, false},
      {[](qn::ScanReport& r) { r.add_item()->set_object("x"); }, false},
      {[](qn::ScanReport& r) { r.add_log("l"), r.set_se_version("9"), r.set_fork_pid(5), r.set_user_time(1); }, true},
      {[](qn::ScanReport& r) { r.mutable_unknown_fields()->AddVarint(999, 1); }, true},
  };
  for (auto const& [change, equal] : changes) {
    qn::ScanReport changed = base;
    change(changed);
    EXPECT_EQ(equal, sm_reports_equal(base, changed)) << changed.ShortDebugString();
    EXPECT_EQ(equal, sm_reports_equal(changed, base)) << changed.ShortDebugString();
  }
}

}  // namespace
