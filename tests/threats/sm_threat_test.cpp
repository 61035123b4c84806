#include "threats/sm_threat.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace {

TEST(sm_threat_test, text_form) {
  struct case_t {
    std::int64_t id;
    std::uint64_t dev;
    std::uint64_t ino;
    char const* path;
    char const* tag;
    char const* expected;
  };
  case_t const cases[] = {
      {12, 2049, 131, "/srv/share/a.exe", "docs", "threat #12: dev=2049 ino=131 path=\"/srv/share/a.exe\" tag='docs'"},
      {-3, 0, 0, "", "", "threat #-3: dev=0 ino=0 path=\"\" tag=''"},
      {7, std::numeric_limits<std::uint64_t>::max(), std::uint64_t(1) << 63, "/s/\"q\" & r", "T_1",
       "threat #7: dev=18446744073709551615 ino=9223372036854775808 path=\"/s/&\"q&\" && r\" tag='T_1'"},
  };
  for (auto const& c : cases) {
    sm_threat_t threat;
    threat.threat_id = c.id;
    threat.dev = c.dev;
    threat.ino = c.ino;
    threat.path = c.path;
    threat.tag = c.tag;
    std::ostringstream out;
    out << threat;
    EXPECT_EQ(c.expected, out.str());
  }
}

}  // namespace
