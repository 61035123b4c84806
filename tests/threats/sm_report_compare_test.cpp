#include "threats/sm_report_compare.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// One change per kind of comparison: a scalar, a presence, repeated values and their order,
// a sub-message, the nested items, and the fields left out.
TEST(sm_report_compare, compared_and_ignored_fields) {
  qn::ScanReport base;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(
      R"(object: "/s/a.zip" size: 10 packer: "upx" archive { type: SE_ARCHIVE name: "zip" }
         virus { type: SE_KNOWN_VIRUS name: "Standard-Test-File" } virus { type: SE_DIALER name: "Second" }
         item { object: "inner.exe" virus { type: SE_ADWARE name: "Ad" } })",
      &base));
  using change_t = std::function<void(qn::ScanReport&)>;
  for (auto const& c : std::vector<std::pair<change_t, bool>>{
           {[](qn::ScanReport&) {}, true},
           {[](qn::ScanReport& r) { r.set_object("/s/b.zip"); }, false},
           {[](qn::ScanReport& r) { r.clear_size(); }, false},
           {[](qn::ScanReport& r) { r.set_cured(false); }, false},  // set to the default is not unset
           {[](qn::ScanReport& r) { r.add_packer("upx"); }, false},
           {[](qn::ScanReport& r) { r.mutable_archive()->set_name("rar"); }, false},
           {[](qn::ScanReport& r) { r.clear_archive(); }, false},
           {[](qn::ScanReport& r) { r.mutable_virus(0)->set_type(qn::SE_JOKE); }, false},
           {[](qn::ScanReport& r) { r.mutable_virus(0)->Swap(r.mutable_virus(1)); }, false},
           {[](qn::ScanReport& r) { r.mutable_item(0)->mutable_virus(0)->set_name("Ad2"); }, false},
           {[](qn::ScanReport& r) { r.add_item()->set_object("x"); }, false},
           {[](qn::ScanReport& r) { r.mutable_item(0)->set_user_time(2.5); }, true},
           {[](qn::ScanReport& r) {
              r.add_log("line");
              r.set_user_time(1.5);
              r.set_se_version("9.9");
              r.set_fork_pid(5);
              r.mutable_unknown_fields()->AddVarint(999, 1);
            },
            true},
       }) {
    qn::ScanReport changed = base;
    c.first(changed);
    EXPECT_EQ(c.second, sm_reports_equal(base, changed)) << changed.ShortDebugString();
    EXPECT_EQ(c.second, sm_reports_equal(changed, base)) << changed.ShortDebugString();
  }
}

}  // namespace
