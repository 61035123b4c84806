#include "threats/sm_report_compare.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

qn::ScanReport base_report() {
  qn::ScanReport r;
  EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(
      R"(object: "/s/a.zip" size: 10 packer: "upx" archive { type: SE_ARCHIVE name: "zip" }
         virus { type: SE_KNOWN_VIRUS name: "EICAR-Test" } virus { type: SE_DIALER name: "Second" }
         item { object: "inner.exe" virus { type: SE_ADWARE name: "Ad" } })",
      &r));
  return r;
}

struct change_t {
  char const* name;
  std::function<void(qn::ScanReport&)> change;
  bool equal_after;
};

TEST(sm_report_compare_test, compared_and_ignored_fields) {
  std::vector<change_t> const changes = {
      {"nothing", [](qn::ScanReport&) {}, true},
      {"object", [](qn::ScanReport& r) { r.set_object("/s/b.zip"); }, false},
      {"size", [](qn::ScanReport& r) { r.set_size(11); }, false},
      {"size absent", [](qn::ScanReport& r) { r.clear_size(); }, false},
      {"packer", [](qn::ScanReport& r) { r.set_packer(0, "aspack"); }, false},
      {"packer count", [](qn::ScanReport& r) { r.add_packer("upx"); }, false},
      {"archive type", [](qn::ScanReport& r) { r.mutable_archive()->set_type(qn::SE_MAIL); }, false},
      {"archive name", [](qn::ScanReport& r) { r.mutable_archive()->set_name("rar"); }, false},
      {"archive absent", [](qn::ScanReport& r) { r.clear_archive(); }, false},
      {"virus name", [](qn::ScanReport& r) { r.mutable_virus(0)->set_name("Other"); }, false},
      {"virus type", [](qn::ScanReport& r) { r.mutable_virus(0)->set_type(qn::SE_JOKE); }, false},
      {"virus order", [](qn::ScanReport& r) { r.mutable_virus(0)->Swap(r.mutable_virus(1)); }, false},
      {"virus count", [](qn::ScanReport& r) { r.add_virus()->CopyFrom(r.virus(0)); }, false},
      {"error", [](qn::ScanReport& r) { r.set_error(qn::SE_READ_ERROR); }, false},
      {"cured false set", [](qn::ScanReport& r) { r.set_cured(false); }, false},
      {"cured_by_deletion", [](qn::ScanReport& r) { r.set_cured_by_deletion(true); }, false},
      {"boot", [](qn::ScanReport& r) { r.set_boot(false); }, false},
      {"heuristic_analysis", [](qn::ScanReport& r) { r.set_heuristic_analysis(true); }, false},
      {"scan_timeout_ms", [](qn::ScanReport& r) { r.set_scan_timeout_ms(0); }, false},
      {"compression_ratio", [](qn::ScanReport& r) { r.set_compression_ratio(3); }, false},
      {"core_fingerprint", [](qn::ScanReport& r) { r.set_core_fingerprint(""); }, false},
      {"new_path", [](qn::ScanReport& r) { r.set_new_path("/q"); }, false},
      {"item virus", [](qn::ScanReport& r) { r.mutable_item(0)->mutable_virus(0)->set_name("Ad2"); }, false},
      {"item count", [](qn::ScanReport& r) { r.add_item()->set_object("x"); }, false},
      {"item user_time", [](qn::ScanReport& r) { r.mutable_item(0)->set_user_time(2.5); }, true},
      {"log", [](qn::ScanReport& r) { r.add_log("line"); }, true},
      {"user_time", [](qn::ScanReport& r) { r.set_user_time(1.5); }, true},
      {"se_version", [](qn::ScanReport& r) { r.set_se_version("9.9"); }, true},
      {"fork_pid", [](qn::ScanReport& r) { r.set_fork_pid(5); }, true},
      {"unknown field", [](qn::ScanReport& r) { r.mutable_unknown_fields()->AddVarint(999, 1); }, true},
  };
  for (auto const& c : changes) {
    qn::ScanReport const a = base_report();
    qn::ScanReport b = base_report();
    c.change(b);
    EXPECT_EQ(c.equal_after, sm_reports_equal(a, b)) << c.name;
    EXPECT_EQ(c.equal_after, sm_reports_equal(b, a)) << c.name;
  }
}

}  // namespace
