#include "scanning/sm_report_rules.h"

#include <tuple>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "scanning/sm_threat_handler.h"

namespace {

TEST(report_rules, worst_threat_real_error_description_lines_summary_and_delay_texts) {
  // report, real scan error, description lines and summary (which names the worst threat)
  std::tuple<char const*, bool, char const*> const cases[] = {
      // Severity 100 beats 10; every quoted path doubles its ampersands.
      {"object: 'a&' virus { type: SE_UNKNOWN_VIRUS name: 'U' } item { object: 'x' virus { type: SE_HACKTOOL name: 'H' "
       "} }",
       false, "\"a&&\" - probably infected with U|\"a&&//x\" - a hacktool program H|\"a&&\" - H|"},
      // Equal severity: the top report's own threat comes before its item's.
      {"object: 't' item { object: 'i' virus { type: SE_KNOWN_VIRUS name: 'K2' } } virus { type: SE_KNOWN_VIRUS name: "
       "'K1' }",
       false, "\"t\" - infected with K1|\"t//i\" - infected with K2|\"t\" - K1|"},
      {"object: 'c' item { object: 'n' error: SE_SCAN_TIMEOUT }", false,
       "\"c\" - Scan timeout expired|\"c\" - Scan timeout expired|"},
      // A real error is named before a tolerated one met earlier.
      {"object: 'e' error: SE_SCAN_TIMEOUT item { object: 'm' error: SE_READ_ERROR }", true,
       "\"e\" - Read error|\"e\" - Read error|"},
      {"object: 'ok'", false, "\"ok\" - ok|\"ok\" - ok|"},
      {"object: '/srv/a.zip' archive { type: SE_ARCHIVE name: 'zip' } item { object: 'doc.exe' virus { type: SE_ADWARE "
       "name: 'Foo' } }",
       false,
       "\"/srv/a.zip//doc.exe\" - an adware program Foo|\"/srv/a.zip\" - infected archive file, malicious objects: 1|"
       "\"/srv/a.zip\" - infected archive file, malicious objects: 1|"},
  };
  for (auto const& [text, real_error, lines] : cases) {
    qn::ScanReport report;
    ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &report));
    std::string described;
    for (std::string const& line : sm_threat_descriptions(report)) described += line + "|";
    EXPECT_EQ(lines, described + sm_report_summary(report) + "|");
    EXPECT_EQ(real_error, sm_has_scan_error(report)) << text;
  }

  std::pair<std::uint32_t, char const*> const delays[] = {
      // milliseconds, text
      {90000, "1 minute 30 seconds"},
      {86400000, "1 day"},
      {1209600000, "2 weeks"},
      {694861999, "1 week 1 day 1 hour 1 minute 1 second"},
  };
  for (auto const& [ms, text] : delays) EXPECT_EQ(text, sm_threat_handler_t::delay_text(ms));
}

}  // namespace
