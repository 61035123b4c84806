#include "service/sm_settings.h"

#include <functional>
#include <string>
#include <vector>

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/log/cf_log.h"
#include "tests/service/sm_test_log.h"
#include "tests/service/sm_test_sandbox.h"

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
  void SetUp() override { log = sm_test_log_t::install(); }
  void TearDown() override { cf_log_reset_for_tests(); }

  std::shared_ptr<sm_test_log_t> log;
  sm_settings_t settings;
};

typedef std::function<std::string(sm_settings_t const&, std::string const&)> getter_t;

struct per_share_field {
  char const* setting;  // text-format line, valid in both messages
  getter_t get;
  char const* set_value;
  char const* schema_default;
};

#define GETTER(name) [](sm_settings_t const& s, std::string const& tag) { return std::to_string(s.name(tag)); }

std::vector<per_share_field> const per_share_fields = {
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

TEST_F(settings_test, share_with_an_entry_reads_the_entry_even_where_it_leaves_the_field_unset) {
  for (per_share_field const& f : per_share_fields) {
    sm_settings_t s;
    s.apply(
        1,
        parse_config(std::string(f.setting) + " share { item { tag: 'bare' } item { tag: 'own' " + f.setting + " } }"),
        false);
    EXPECT_EQ(f.schema_default, f.get(s, "bare")) << f.setting << ": the entry's default, not the global value";
    EXPECT_EQ(f.set_value, f.get(s, "own")) << f.setting;
    EXPECT_EQ(f.set_value, f.get(s, "other")) << f.setting << ": a share without entry reads the global value";

    sm_settings_t unset_globally;
    unset_globally.apply(1, parse_config(std::string("share { item { tag: 'own' ") + f.setting + " } }"), false);
    EXPECT_EQ(f.set_value, f.get(unset_globally, "own")) << f.setting;
    EXPECT_EQ(f.schema_default, f.get(unset_globally, "other")) << f.setting;
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
  EXPECT_EQ(100u, settings.scan_timeout("public_docs"));
  EXPECT_EQ(2u, settings.scan_timeout("myshare")) << "the later item of one key wins";

  settings.apply(2, parse_config("scan_timeout: 99 share { item { tag: 'PUBLICDOCS' alert_files: true } }"), false);
  EXPECT_EQ(0u, settings.scan_timeout("publicdocs")) << "the new item leaves scan_timeout unset";
  EXPECT_TRUE(settings.alert_files("publicdocs"));
  EXPECT_EQ(7u, settings.scan_timeout("b")) << "a share absent from the new settings keeps its entry";
  EXPECT_EQ(99u, settings.scan_timeout("c"));
}

TEST_F(settings_test, revision_suspended_and_global_values) {
  EXPECT_FALSE(settings.suspended);
  settings.apply(41, parse_config("action_delay: 1500 max_cache_size: 4096"), true);
  EXPECT_EQ(41u, settings.config_revision());
  EXPECT_TRUE(settings.suspended);
  EXPECT_EQ(1500u, settings.action_delay());
  EXPECT_EQ(4096u, settings.max_cache_size());
  settings.apply(42, parse_config(""), false);
  EXPECT_EQ(42u, settings.config_revision());
  EXPECT_FALSE(settings.suspended);
  EXPECT_EQ(0u, settings.action_delay());
}

TEST_F(settings_test, log_level_sets_the_threshold) {
  struct level_case {
    char const* setting;
    int threshold;
  };
  level_case const cases[] = {{"", 0},
                              {"log_level: LOG_LEVEL_DEBUG", 0},
                              {"log_level: LOG_LEVEL_INFO", 1},
                              {"log_level: LOG_LEVEL_NOTICE", 2},
                              {"log_level: LOG_LEVEL_WARNING", 3},
                              {"log_level: LOG_LEVEL_ERROR", 4}};
  for (level_case const& c : cases) {
    cf_log_threshold = 9;
    settings.apply(1, parse_config(c.setting), false);
    EXPECT_EQ(c.threshold, cf_log_threshold.load()) << c.setting;
  }
}

TEST_F(settings_test, auto_log_keeps_the_installed_sink_or_installs_the_console) {
  settings.apply(1, parse_config(""), false);
  cf_log(CF_LOG_ERROR, "still here");
  EXPECT_TRUE(log->has("Error: still here")) << log->all();

  cf_log_reset_for_tests();
  settings.apply(2, parse_config("log_level: LOG_LEVEL_ERROR"), false);
  EXPECT_TRUE(cf_is_log_set()) << "held-back lines must not pile up for ever";
  EXPECT_EQ(CF_LOG_MODE_INSTALLED, cf_log_mode());
}

TEST_F(settings_test, failing_log_sink_throws_102_and_keeps_shares_and_revision) {
  settings.apply(3, parse_config("share { item { tag: 'kept' scan_timeout: 5 } }"), false);
  qn::SMBGardixConfig bad = parse_config(
      "log_level: LOG_LEVEL_WARNING scan_timeout: 77 share { item { tag: 'kept' scan_timeout: 6 } item { tag: 'new' "
      "scan_timeout: 8 } }");
  bad.mutable_actual_log()->set_type(qn::Log::FILE);
  sm_test_sandbox_t sandbox;
  bad.mutable_actual_log()->set_path((sandbox / "missing/daemon.log").string());
  EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { settings.apply(4, bad, true); }));
  EXPECT_EQ(CF_LOG_WARNING, cf_log_threshold.load()) << "the new threshold stays in force";
  EXPECT_TRUE(settings.suspended);
  EXPECT_EQ(3u, settings.config_revision());
  EXPECT_EQ(5u, settings.scan_timeout("kept"));
  EXPECT_EQ(77u, settings.scan_timeout("new")) << "no entry was filed: the new global value answers";
  ASSERT_EQ(1u, log->lines.size()) << log->all();
  EXPECT_EQ(0u, log->lines[0].rfind("Error: Cannot create log", 0)) << log->all();
}

struct path_list_case {
  char const* name;
  char const* entries;  // text-format items of the list
  char const* refused;  // expected line, or null when the list passes
};

class settings_path_list_test : public settings_test, public ::testing::WithParamInterface<path_list_case> {};

TEST_P(settings_path_list_test, excluded_and_included_lists_refuse_empty_and_absolute_entries) {
  struct list_kind {
    char const* field;
    char const* prefix;
    std::function<std::vector<std::string>(sm_settings_t const&, std::string const&)> get;
  };
  list_kind const kinds[] = {
      {"excluded_path",
       "Bad excluded path: ", [](sm_settings_t const& s, std::string const& tag) { return s.excluded_paths(tag); }},
      {"included_path",
       "Bad included path: ", [](sm_settings_t const& s, std::string const& tag) { return s.included_paths(tag); }},
  };
  for (list_kind const& kind : kinds) {
    for (bool in_share : {false, true}) {
      log->lines.clear();
      std::string const list = std::string(kind.field) + " { " + GetParam().entries + " }";
      sm_settings_t s;
      s.apply(1, parse_config(in_share ? "share { item { tag: 'sh' " + list + " } }" : list), false);
      std::string const what = std::string(kind.field) + (in_share ? " of the share" : " global");
      if (GetParam().refused) {
        EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { kind.get(s, "sh"); })) << what;
        EXPECT_EQ((std::vector<std::string>{std::string("Error: ") + kind.prefix + GetParam().refused}), log->lines)
            << what;
      } else {
        qn::StringList expected;
        google::protobuf::TextFormat::ParseFromString(GetParam().entries, &expected);
        EXPECT_EQ(std::vector<std::string>(expected.item().begin(), expected.item().end()), kind.get(s, "sh")) << what;
        EXPECT_TRUE(log->lines.empty()) << log->all();
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    lists, settings_path_list_test,
    ::testing::Values(path_list_case{"none", "", nullptr},
                      path_list_case{"relative", "item: 'sub/dir' item: 'a' item: '.hidden'", nullptr},
                      path_list_case{"empty_entry", "item: 'ok' item: ''", "\"\""},
                      path_list_case{"absolute_entry", "item: '/abs/dir'", "\"/abs/dir\""},
                      path_list_case{"first_bad_entry_reported", "item: 'ok' item: '/first' item: ''", "\"/first\""},
                      path_list_case{"quoted_with_escapes", "item: '/a\"b\\\\c'", "\"/a\\\"b\\\\c\""}),
    [](::testing::TestParamInfo<path_list_case> const& info) { return info.param.name; });

TEST_F(settings_test, share_without_its_own_list_has_an_empty_one) {
  settings.apply(1, parse_config("excluded_path { item: '/bad' } share { item { tag: 'sh' } }"), false);
  EXPECT_TRUE(settings.excluded_paths("sh").empty());
  EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { settings.excluded_paths("other"); }));
}

struct single_path_case {
  char const* setting;
  bool socket;  // smb_socket_path, else samba_chroot_dir
  char const* result;
  char const* refused;
};

TEST_F(settings_test, socket_path_and_chroot_dir_checks) {
  single_path_case const cases[] = {
      {"", true, nullptr, "Error: Bad SmbSocketPath: \"\""},
      {"smb_socket_path: '/run/smb.sock'", true, nullptr, "Error: Bad SmbSocketPath: \"/run/smb.sock\""},
      {"smb_socket_path: 'run/smb.sock'", true, "run/smb.sock", nullptr},
      {"smb_socket_path: 'x\"y'", true, "x\"y", nullptr},
      {"", false, "/", nullptr},
      {"samba_chroot_dir: '/srv/samba'", false, "/srv/samba", nullptr},
      {"samba_chroot_dir: 'srv/samba'", false, nullptr, "Error: Bad SambaChrootDir: \"srv/samba\""},
      {"samba_chroot_dir: '.'", false, nullptr, "Error: Bad SambaChrootDir: \".\""},
  };
  for (single_path_case const& c : cases) {
    log->lines.clear();
    sm_settings_t s;
    s.apply(1, parse_config(c.setting), false);
    auto get = [&] { return c.socket ? s.smb_socket_path() : s.samba_chroot_dir(); };
    if (c.refused) {
      EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { get(); })) << c.setting;
      EXPECT_EQ((std::vector<std::string>{c.refused}), log->lines) << c.setting;
      // Checked again at every call.
      EXPECT_EQ(qn::EC_BAD_CONFIG, thrown_code([&] { get(); })) << c.setting;
    } else {
      EXPECT_EQ(c.result, get()) << c.setting;
      EXPECT_TRUE(log->lines.empty()) << log->all();
    }
  }
}

}  // namespace
