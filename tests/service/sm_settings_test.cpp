#include "service/sm_settings.h"

#include <functional>
#include <string>
#include <vector>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/log/cf_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox.h"

namespace {

qn::SMBGardixConfig parse_config(std::string const& text) {
  qn::SMBGardixConfig config;
  EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &config)) << text;
  // Keeps the capturing sink in place.
  config.mutable_actual_log()->set_type(qn::Log::AUTO);
  return config;
}

// Runs `call` and returns the bare code it throws, or -1.
int thrown_code(std::function<void()> const& call) {
  try {
    call();
  } catch (qn::ErrorCode code) {
    return code;
  }
  return -1;
}

class settings_test : public ::testing::Test {
 protected:
  test_log_t log;
  sm_settings_t settings;
};

#define GETTER(name) [](sm_settings_t const& s, std::string const& tag) { return std::to_string(s.name(tag)); }

TEST_F(settings_test, share_with_an_entry_reads_the_entry_even_where_it_leaves_the_field_unset) {
  struct per_share_field {
    char const* setting;  // text-format line, valid in both messages
    std::function<std::string(sm_settings_t const&, std::string const&)> get;
    char const* set_value;
    char const* schema_default;
  };
  per_share_field const fields[] = {
      {"alert_files: true", GETTER(alert_files), "1", "0"},
      {"on_known_virus: SMB_CURE", GETTER(on_known_virus), "3", "1"},
      {"on_incurable: SMB_QUARANTINE", GETTER(on_incurable), "4", "1"},
      {"on_suspicious: SMB_DELETE", GETTER(on_suspicious), "5", "1"},
      {"on_adware: SMB_REPORT", GETTER(on_adware), "6", "1"},
      {"on_dialers: SMB_BLOCK", GETTER(on_dialers), "2", "1"},
      {"on_jokes: SMB_CURE", GETTER(on_jokes), "3", "1"},
      {"on_riskware: SMB_QUARANTINE", GETTER(on_riskware), "4", "1"},
      {"on_hacktools: SMB_DELETE", GETTER(on_hacktools), "5", "1"},
      {"block_on_error: true", GETTER(block_on_error), "1", "0"},
      {"scan_timeout: 30000", GETTER(scan_timeout), "30000", "0"},
      {"heuristic_analysis: true", GETTER(heuristic_analysis), "1", "0"},
      {"packer_max_level: 8", GETTER(packer_max_level), "8", "0"},
      {"archive_max_level: 9", GETTER(archive_max_level), "9", "0"},
      {"mail_max_level: 10", GETTER(mail_max_level), "10", "0"},
      {"container_max_level: 11", GETTER(container_max_level), "11", "0"},
      {"max_compression_ratio: 12", GETTER(max_compression_ratio), "12", "0"},
  };
  for (per_share_field const& f : fields) {
    SCOPED_TRACE(f.setting);
    sm_settings_t s;
    std::string const own = std::string(" share { item { tag: 'bare' } item { tag: 'own' ") + f.setting + " } }";
    s.apply(1, parse_config(f.setting + own), false);
    EXPECT_EQ(f.schema_default, f.get(s, "bare")) << "the entry's default, not the global value";
    EXPECT_EQ(f.set_value, f.get(s, "own"));
    EXPECT_EQ(f.set_value, f.get(s, "other")) << "a share without entry reads the global value";
    s.apply(2, parse_config(own), false);
    EXPECT_EQ(f.schema_default, f.get(s, "other"));
  }
}

TEST_F(settings_test, entries_are_keyed_by_normalised_tag_replaced_whole_and_never_removed) {
  settings.apply(1,
                 parse_config("scan_timeout: 100 share { item { tag: 'Public_Docs' scan_timeout: 200 } "
                              "item { tag: 'My_Share' scan_timeout: 1 } item { tag: 'MYSHARE_' scan_timeout: 2 } "
                              "item { tag: 'b' scan_timeout: 7 } }"),
                 false);
  EXPECT_EQ(200u, settings.scan_timeout("publicdocs"));
  EXPECT_EQ(100u, settings.scan_timeout("Public_Docs")) << "looked up unchanged";
  EXPECT_EQ(2u, settings.scan_timeout("myshare")) << "the later item of one key wins";

  settings.apply(2, parse_config("scan_timeout: 99 share { item { tag: 'PUBLICDOCS' alert_files: true } }"), false);
  EXPECT_EQ(0u, settings.scan_timeout("publicdocs")) << "the new item leaves scan_timeout unset";
  EXPECT_TRUE(settings.alert_files("publicdocs"));
  EXPECT_EQ(7u, settings.scan_timeout("b")) << "a share absent from the new settings keeps its entry";
  EXPECT_EQ(99u, settings.scan_timeout("c"));
}

TEST_F(settings_test, auto_log_keeps_the_installed_sink_or_installs_the_console) {
  settings.apply(1, parse_config(""), false);
  cf_log(CF_LOG_ERROR, "still here");
  EXPECT_TRUE(log.contains("Error: still here")) << log.text();
  cf_log_reset_for_tests();
  settings.apply(2, parse_config("log_level: LOG_LEVEL_ERROR"), false);
  EXPECT_EQ(CF_LOG_MODE_INSTALLED, cf_log_mode()) << "held-back lines must not pile up for ever";
}

TEST_F(settings_test, failing_log_sink_throws_102_and_keeps_shares_and_revision) {
  settings.apply(3, parse_config("share { item { tag: 'kept' scan_timeout: 5 } }"), false);
  qn::SMBGardixConfig bad = parse_config(
      "log_level: LOG_LEVEL_WARNING scan_timeout: 77 share { item { tag: 'kept' scan_timeout: 6 } item { tag: 'new' "
      "scan_timeout: 8 } }");
  test_sandbox_t sandbox;
  bad.mutable_actual_log()->set_type(qn::Log::FILE);
  bad.mutable_actual_log()->set_path(sandbox.file("missing/daemon.log"));
  EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { settings.apply(4, bad, true); }));
  EXPECT_EQ(CF_LOG_WARNING, cf_log_threshold.load()) << "the new threshold stays in force";
  EXPECT_TRUE(settings.suspended);
  EXPECT_EQ(3u, settings.config_revision());
  EXPECT_EQ(5u, settings.scan_timeout("kept"));
  EXPECT_EQ(77u, settings.scan_timeout("new")) << "no entry was filed: the new global value answers";
  ASSERT_EQ(1u, log.lines().size()) << log.text();
  EXPECT_EQ(0u, log.lines()[0].rfind("Error: Cannot create log", 0)) << log.text();
}

std::string joined(std::vector<std::string> const& paths) {
  std::string out;
  for (std::string const& path : paths) out += (out.empty() ? "" : ",") + path;
  return out;
}

// Every call checks again: a refused value throws and logs its line each time.
TEST_F(settings_test, path_checks) {
  typedef std::function<std::string(sm_settings_t const&)> getter_t;
  getter_t const excluded = [](sm_settings_t const& s) { return joined(s.excluded_paths("sh")); };
  getter_t const included = [](sm_settings_t const& s) { return joined(s.included_paths("sh")); };
  getter_t const socket = [](sm_settings_t const& s) { return s.smb_socket_path(); };
  getter_t const chroot = [](sm_settings_t const& s) { return s.samba_chroot_dir(); };
  struct path_case {
    char const* setting;
    getter_t get;
    char const* result;   // when accepted
    char const* refused;  // the line, when refused
  };
  path_case const cases[] = {
      {"", excluded, "", nullptr},
      {"excluded_path { item: 'sub/dir' item: '.hidden' }", excluded, "sub/dir,.hidden", nullptr},
      {"excluded_path { item: 'ok' item: '' }", excluded, nullptr, "Error: Bad excluded path: \"\""},
      {"share { item { tag: 'sh' excluded_path { item: 'ok' item: '/first' item: '' } } }", excluded, nullptr,
       "Error: Bad excluded path: \"/first\""},
      // A share entry without its own list has an empty one.
      {"excluded_path { item: '/bad' } share { item { tag: 'sh' } }", excluded, "", nullptr},
      {"share { item { tag: 'sh' included_path { item: 'a/b' } } }", included, "a/b", nullptr},
      {"included_path { item: '/a\"b\\\\c' }", included, nullptr, "Error: Bad included path: \"/a\\\"b\\\\c\""},
      {"share { item { tag: 'sh' included_path { item: '' } } }", included, nullptr, "Error: Bad included path: \"\""},
      {"", socket, nullptr, "Error: Bad SmbSocketPath: \"\""},
      {"smb_socket_path: '/run/smb.sock'", socket, nullptr, "Error: Bad SmbSocketPath: \"/run/smb.sock\""},
      {"smb_socket_path: 'run/smb.sock'", socket, "run/smb.sock", nullptr},
      {"", chroot, "/", nullptr},
      {"samba_chroot_dir: '/srv/samba'", chroot, "/srv/samba", nullptr},
      {"samba_chroot_dir: 'srv/samba'", chroot, nullptr, "Error: Bad SambaChrootDir: \"srv/samba\""},
      {"samba_chroot_dir: '.'", chroot, nullptr, "Error: Bad SambaChrootDir: \".\""},
  };
  for (path_case const& c : cases) {
    SCOPED_TRACE(c.setting);
    log.clear();
    sm_settings_t s;
    s.apply(1, parse_config(c.setting), false);
    if (c.refused) {
      for (int call = 0; call < 2; ++call) EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { c.get(s); }));
      EXPECT_EQ((std::vector<std::string>{c.refused, c.refused}), log.lines());
    } else {
      EXPECT_EQ(c.result, c.get(s));
      EXPECT_TRUE(log.lines().empty()) << log.text();
    }
  }
}

}  // namespace
