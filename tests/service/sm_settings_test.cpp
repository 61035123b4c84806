#include "service/sm_settings.h"

#include <sstream>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/log/cf_log.h"
#include "tests/support/log_capture.h"

namespace {

// Applies `text` over an AUTO log, which keeps the capturing sink in place.
void apply(sm_settings_t& s, std::uint32_t revision, std::string const& text) {
  qn::SMBGardixConfig config;
  EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &config)) << text;
  config.mutable_actual_log()->set_type(qn::Log::AUTO);
  s.apply(revision, config, false);
}

// Every per-share value: the booleans, the eight actions, then the numbers.
std::string values(sm_settings_t const& s, std::string const& t) {
  std::ostringstream o;
  o << s.alert_files(t) << s.block_on_error(t) << s.heuristic_analysis(t) << ' ' << s.on_known_virus(t)
    << s.on_incurable(t) << s.on_suspicious(t) << s.on_adware(t) << s.on_dialers(t) << s.on_jokes(t) << s.on_riskware(t)
    << s.on_hacktools(t) << ' ' << s.scan_timeout(t) << ' ' << s.packer_max_level(t) << ' ' << s.archive_max_level(t)
    << ' ' << s.mail_max_level(t) << ' ' << s.container_max_level(t) << ' ' << s.max_compression_ratio(t);
  return o.str();
}

// Two sets of values, so that a getter reading a neighbour's field differs in one of them.
std::string const global =
    "alert_files: true block_on_error: true heuristic_analysis: true on_known_virus: 2 on_incurable: 3 "
    "on_suspicious: 4 on_adware: 5 on_dialers: 6 on_jokes: 2 on_riskware: 3 on_hacktools: 4 scan_timeout: 30000 "
    "packer_max_level: 8 archive_max_level: 9 mail_max_level: 10 container_max_level: 11 max_compression_ratio: 12";
std::string const own =
    "alert_files: true on_known_virus: 3 on_incurable: 4 on_suspicious: 5 on_adware: 6 on_dialers: 2 on_jokes: 4 "
    "on_riskware: 5 on_hacktools: 6 scan_timeout: 20000 packer_max_level: 1 archive_max_level: 2 mail_max_level: 3 "
    "container_max_level: 4 max_compression_ratio: 5";
std::string const defaults = "000 11111111 0 0 0 0 0 0";

// Without a sink in place AUTO installs the console, so that held-back lines do not pile up for
// ever; the path checks below see that it keeps one in place.
TEST(settings, a_share_entry_is_read_whole_keyed_by_normalised_tag_replaced_whole_and_never_removed) {
  test_log_t log;
  cf_log_reset_for_tests();
  sm_settings_t s;
  apply(
      s, 1,
      global + " share { item { tag: 'B_are' } item { tag: 'own' scan_timeout: 7 } item { tag: 'O_wn' " + own + " } }");
  EXPECT_EQ(CF_LOG_MODE_INSTALLED, cf_log_mode());
  EXPECT_EQ(defaults, values(s, "bare")) << "the entry's defaults, not the global values";
  EXPECT_EQ("100 34562456 20000 1 2 3 4 5", values(s, "own")) << "the later item of one key wins";
  EXPECT_EQ("111 23456234 30000 8 9 10 11 12", values(s, "other"));
  EXPECT_EQ(values(s, "other"), values(s, "O_wn")) << "looked up unchanged";
  apply(s, 2, "scan_timeout: 9 share { item { tag: 'OWN' block_on_error: true heuristic_analysis: false } }");
  EXPECT_EQ("010 11111111 0 0 0 0 0 0", values(s, "own"));
  EXPECT_EQ(defaults, values(s, "bare")) << "a share absent from the new settings keeps its entry";
  EXPECT_EQ("000 11111111 9 0 0 0 0 0", values(s, "other"));
}

// Every call checks again: a refused value throws and logs its line each time.
TEST(settings, path_checks) {
  // e: excluded, i: included paths of share "sh"; s: the socket path; c: the chroot folder; or
  // the code thrown.
  auto const get = [](sm_settings_t const& s, char which) -> std::string {
    try {
      if (which == 's' || which == 'c') return which == 's' ? s.smb_socket_path() : s.samba_chroot_dir();
      std::string out;
      for (std::string const& path : which == 'e' ? s.excluded_paths("sh") : s.included_paths("sh")) out += path + ",";
      return out;
    } catch (qn::ErrorCode code) {
      return "thrown " + std::to_string(code);
    }
  };
  struct {
    char const* setting;
    char which;
    char const* result;  // when accepted, else the line
  } const cases[] = {
      {"excluded_path { item: 'ok' item: '' }", 'e', "Error: Bad excluded path: \"\""},
      {"share { item { tag: 'sh' excluded_path { item: 'ok' item: '/first' item: '' } } }", 'e',
       "Error: Bad excluded path: \"/first\""},
      // A share entry without its own list has an empty one.
      {"excluded_path { item: '/bad' } share { item { tag: 'sh' } }", 'e', ""},
      {"share { item { tag: 'sh' included_path { item: 'a/b' } } }", 'i', "a/b,"},
      {"included_path { item: '/a\"b\\\\c' }", 'i', "Error: Bad included path: \"/a\\\"b\\\\c\""},
      {"", 's', "Error: Bad SmbSocketPath: \"\""},
      {"smb_socket_path: '/run/smb.sock'", 's', "Error: Bad SmbSocketPath: \"/run/smb.sock\""},
      {"", 'c', "/"},
      {"samba_chroot_dir: 'srv/samba'", 'c', "Error: Bad SambaChrootDir: \"srv/samba\""},
  };
  for (auto const& [setting, which, result] : cases) {
    test_log_t log;
    sm_settings_t s;
    apply(s, 1, setting);
    bool const refused = !std::string(result).rfind("Error: ", 0);
    std::string const answer = refused ? "thrown " + std::to_string(qn::EC_BAD_CONFIG) : result;
    EXPECT_EQ(answer + "|" + answer, get(s, which) + "|" + get(s, which)) << setting;
    EXPECT_EQ(std::vector<std::string>(refused ? 2 : 0, result), log.lines()) << setting;
  }
}

}  // namespace
