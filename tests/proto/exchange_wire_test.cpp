// The messages exchanged with ConfigD, and the scan report read from the threat database, pinned
// byte for byte both ways: both ends are generated from one schema, so only fixed bytes catch a
// renumbered field. The daemon's first request is pinned where it is sent.
#include <gtest/gtest.h>

#include <google/protobuf/text_format.h>

#include "configd_smb_gardix_ipc.pb.h"
#include "scan_report.pb.h"
#include "se_appinfo.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

std::string hex(std::string const& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += {' ', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return out.substr(1);
}

TEST(exchange_wire, messages_serialize_to_exactly_these_bytes) {
  // Uses the extensions, so that their files are linked and register them.
  ASSERT_EQ(2 * 100 + 52, qn::se_info.number() * 100 + qn::vornd_info.number());
  auto const& out = qn::SMBGardix2ConfigdMessage::default_instance();
  auto const& in = qn::Configd2SMBGardixMessage::default_instance();
  // prototype, text, bytes
  std::tuple<google::protobuf::Message const&, char const*, char const*> const rows[] = {
      {out, "tag: MY_INFO_NOTIFICATION config_revision: 7 info { state: EC_APP_SUSPENDED }", "08 02 10 07 32 02 08 58"},
      {out, "tag: MY_STAT_NOTIFICATION stat { shares { share_path: '/s' base: 1 in: 2 out: 3 } }",
       "08 03 2a 0c 0a 0a 0a 02 2f 73 50 01 58 02 60 03"},
      {out, "tag: GET_FCHECK_REQUEST uid: 1000", "08 04 20 e8 07"},
      {in,
       "tag: GET_CONFIG_RESPONSE config_revision: 5 config { share { item { tag: 'x' } } } "
       "control { app: APP_SMB_GARDIX suspended: true }",
       "08 01 10 05 22 09 82 19 06 0a 04 c2 3e 01 78 a2 01 04 08 28 10 01"},
      {in, "tag: GET_FCHECK_RESPONSE socket_path: '/r' uid: 0 error { code: EC_BAD_MESSAGE_FORMAT }",
       "08 02 32 02 2f 72 38 00 a2 06 02 08 08"},
      // Sibling info extends the envelope ahead of its own fields.
      {in, "tag: APPINFO_NOTIFICATION appinfo { app: APP_SCAN_ENGINE pid: 1 [qn.se_info] { core_fingerprint: 'A' } }",
       "08 03 42 0b 12 03 2a 01 41 c0 3e 02 c8 3e 01"},
      {qn::AppInfo::default_instance(),
       "app: APP_VORND pid: 9 [qn.vornd_info] { se_adaptor_info { core_fingerprint: 'B' } }",
       "a2 03 05 0a 03 2a 01 42 c0 3e 34 c8 3e 09"},
      {qn::SMBGardixConfig::default_instance(),
       "log_level: LOG_LEVEL_NOTICE log { type: FILE facility: LOCAL7 ident: 'i' path: '/x' show_timestamp: true } "
       "share { item { tag: 'a' on_known_virus: SMB_BLOCK scan_timeout: 300 excluded_path { item: 'x' } } } "
       "samba_chroot_dir: '/c' action_delay: 1000 max_cache_size: 0 actual_log { type: STDERR }",
       "08 03 12 0e 08 02 10 11 1a 01 69 52 02 2f 78 a0 01 01 82 19 13 0a 11 a2 06 03 0a 01 78 c0 0c 02 e0 12 ac 02 "
       "c2 3e 01 61 aa 1f 02 2f 63 f0 1f e8 07 f8 1f 00 c2 3e 02 08 03"},
      // Every action, globally and for a share, numbered 200 to 207 in this order; the values differ between
      // any two fields in one of the two, so that no two numbers can be swapped unseen.
      {qn::SMBGardixConfig::default_instance(),
       "on_known_virus: SMB_PASS on_incurable: SMB_BLOCK on_suspicious: SMB_CURE on_adware: SMB_QUARANTINE "
       "on_dialers: SMB_DELETE on_jokes: SMB_REPORT on_riskware: SMB_PASS on_hacktools: SMB_BLOCK "
       "share { item { tag: 'a' on_known_virus: SMB_CURE on_incurable: SMB_QUARANTINE on_suspicious: SMB_DELETE "
       "on_adware: SMB_REPORT on_dialers: SMB_PASS on_jokes: SMB_BLOCK on_riskware: SMB_QUARANTINE "
       "on_hacktools: SMB_DELETE } }",
       "c0 0c 01 c8 0c 02 d0 0c 03 d8 0c 04 e0 0c 05 e8 0c 06 f0 0c 01 f8 0c 02 82 19 1e 0a 1c c0 0c 03 c8 0c 04 "
       "d0 0c 05 d8 0c 06 e0 0c 01 e8 0c 02 f0 0c 04 f8 0c 05 c2 3e 01 61"},
      {qn::ScanReport::default_instance(),
       "object: 'a' archive { type: SE_MAIL name: 'm' } cured: false item { object: 'b' error: SE_SCAN_TIMEOUT } "
       "log: 'l' fork_pid: 7",
       "0a 01 61 22 05 08 02 12 01 6d 40 00 a2 01 05 0a 01 62 38 28 aa 01 01 6c 80 05 07"},
  };
  google::protobuf::TextFormat::Parser parser;
  parser.AllowPartialMessage(true);
  for (auto const& [prototype, text, bytes] : rows) {
    std::unique_ptr<google::protobuf::Message> built(prototype.New());
    ASSERT_TRUE(parser.ParseFromString(text, built.get())) << text;
    EXPECT_EQ(bytes, hex(built->SerializeAsString())) << text;
    EXPECT_TRUE(built->IsInitialized()) << "a required field is missing: " << text;
  }
}

}  // namespace
