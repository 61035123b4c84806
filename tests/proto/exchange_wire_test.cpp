// Every message the daemon exchanges with ConfigD and the file checker,
// pinned byte for byte both ways: built from its text form it serializes to
// exactly these bytes, and the bytes parse back to the same message.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/proto/proto_test_support.h"

#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "scan_report.pb.h"
#include "se_appinfo.pb.h"
#include "smb_gardix_appinfo.pb.h"
#include "smb_gardix_appstat.pb.h"
#include "smb_gardix_config.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

using namespace proto_test;

struct pin_t {
  const Message& prototype;
  const char* text;
  std::string bytes;
};

void expect_pinned(const pin_t& row) {
  SCOPED_TRACE(row.text);
  const auto built = from_text(row.prototype, row.text);
  EXPECT_EQ(built->InitializationErrorString(), "");
  EXPECT_EQ(hex(built->SerializeAsString()), hex(row.bytes));
  std::unique_ptr<Message> parsed(row.prototype.New());
  ASSERT_TRUE(parsed->ParseFromString(row.bytes));
  EXPECT_EQ(parsed->DebugString(), built->DebugString());
}

const std::string k_share = wire({0xa2, 0x06, 0x03, 0x0a, 0x01, 'x', 0xc0, 0x0c, 0x02, 0xe0, 0x12, 0xac, 0x02, 0xc2,
                                  0x3e, 0x01, 'a'});  // excluded_path, on_known_virus, scan_timeout, tag

TEST(ExchangeWire, ConfigDConversation) {
  const auto& out = qn::SMBGardix2ConfigdMessage::default_instance();
  const auto& in = qn::Configd2SMBGardixMessage::default_instance();
  const pin_t rows[] = {
      {out, "tag: GET_CONFIG_REQUEST", wire({0x08, 0x01})},
      {out, "tag: MY_INFO_NOTIFICATION config_revision: 7 info { state: EC_APP_SUSPENDED }",
       wire({0x08, 0x02, 0x10, 0x07, 0x32, 0x02, 0x08, 0x58})},
      {out, "tag: MY_INFO_NOTIFICATION config_revision: 7 info { state: EC_OK }",
       wire({0x08, 0x02, 0x10, 0x07, 0x32, 0x02, 0x08, 0x00})},
      {out, "tag: MY_STAT_NOTIFICATION stat { shares { share_path: '/s' base: 1 in: 2 out: 3 } }",
       wire({0x08, 0x03, 0x2a, 0x0c, 0x0a, 0x0a, 0x0a, 0x02, '/', 's', 0x50, 0x01, 0x58, 0x02, 0x60, 0x03})},
      {out, "tag: GET_FCHECK_REQUEST uid: 1000", wire({0x08, 0x04, 0x20, 0xe8, 0x07})},
      {in,
       "tag: GET_CONFIG_RESPONSE config_revision: 5 config { share { item { tag: 'x' } } } control { app: "
       "APP_SMB_GARDIX suspended: true }",
       wire({0x08, 0x01, 0x10, 0x05, 0x22, 0x09, 0x82, 0x19, 0x06, 0x0a, 0x04,
             0xc2, 0x3e, 0x01, 'x',  0xa2, 0x01, 0x04, 0x08, 0x28, 0x10, 0x01})},
      {in, "tag: GET_FCHECK_RESPONSE socket_path: '/r' uid: 0 error { code: EC_BAD_MESSAGE_FORMAT }",
       wire({0x08, 0x02, 0x32, 0x02, '/', 'r', 0x38, 0x00, 0xa2, 0x06, 0x02, 0x08, 0x08})},
      // Sibling info extends the envelope ahead of its own fields.
      {in, "tag: APPINFO_NOTIFICATION appinfo { app: APP_SCAN_ENGINE pid: 1 [qn.se_info] { core_fingerprint: 'A' } }",
       wire({0x08, 0x03, 0x42, 0x0b, 0x12, 0x03, 0x2a, 0x01, 'A', 0xc0, 0x3e, 0x02, 0xc8, 0x3e, 0x01})},
      {qn::AppInfo::default_instance(),
       "app: APP_VORND pid: 9 [qn.vornd_info] { se_adaptor_info { core_fingerprint: 'B' } }",
       wire({0xa2, 0x03, 0x05, 0x0a, 0x03, 0x2a, 0x01, 'B', 0xc0, 0x3e, 0x34, 0xc8, 0x3e, 0x09})},
      {qn::SMBGardixConfig::default_instance(),
       "log_level: LOG_LEVEL_NOTICE log { type: FILE facility: LOCAL7 ident: 'i' path: '/x' show_timestamp: true } "
       "share { item { tag: 'a' on_known_virus: SMB_BLOCK scan_timeout: 300 excluded_path { item: 'x' } } } "
       "samba_chroot_dir: '/c' action_delay: 1000 max_cache_size: 0 actual_log { type: STDERR }",
       wire({0x08, 0x03,                                                                                   // log_level
             0x12, 0x0e, 0x08, 0x02, 0x10, 0x11, 0x1a, 0x01, 'i', 0x52, 0x02, '/', 'x', 0xa0, 0x01, 0x01,  // log
             0x82, 0x19, 0x13, 0x0a, 0x11}) +
           k_share +                                                                    // share
           wire({0xaa, 0x1f, 0x02, '/', 'c', 0xf0, 0x1f, 0xe8, 0x07, 0xf8, 0x1f, 0x00,  // chroot, delay, cache size
                 0xc2, 0x3e, 0x02, 0x08, 0x03})},                                       // actual_log
      // The daemon's own extensions of the envelopes, at 40.
      {qn::AppConfig::default_instance(), "app: APP_SMB_GARDIX [qn.smb_gardix_config] { start: true }",
       wire({0xc2, 0x02, 0x02, 0x20, 0x01, 0xc0, 0x3e, 0x28})},
      {qn::AppInfo::default_instance(), "app: APP_SMB_GARDIX pid: 1 [qn.smb_gardix_info] { state: EC_APP_SUSPENDED }",
       wire({0xc2, 0x02, 0x02, 0x08, 0x58, 0xc0, 0x3e, 0x28, 0xc8, 0x3e, 0x01})},
      {qn::AppStat::default_instance(),
       "app: APP_SMB_GARDIX pid: 2 [qn.smb_gardix_appstat] { shares { share_path: '/s' base: 1 in: 2 out: 3 } }",
       wire({0xc2, 0x02, 0x0c, 0x0a, 0x0a, 0x0a, 0x02, '/',  's',  0x50, 0x01,
             0x58, 0x02, 0x60, 0x03, 0xc0, 0x3e, 0x28, 0xc8, 0x3e, 0x02})},
  };
  for (const auto& row : rows) expect_pinned(row);
}

TEST(ExchangeWire, FileCheckerConversation) {
  const auto& out = fc::ClientMessage::default_instance();
  const auto& in = fc::ServerMessage::default_instance();
  const pin_t rows[] = {
      {out, "tag: SUBSCRIBE_TO_THREATS", wire({0x08, 0x0a})},
      {out, "tag: THREAT_OP_REQUEST serial: 1 threat_id: -5 op: THREAT_OP_IGNORE origin: APP_SMB_GARDIX pid: 1234",
       wire({0x08, 0x0c, 0x10, 0x01, 0x50, 0xfb, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
             0xff, 0x01, 0xb0, 0x01, 0x07, 0xf0, 0x01, 0x28, 0xf8, 0x01, 0xd2, 0x09})},
      {out, "tag: THREAT_SYNC_REQUEST serial: 2 threat_id: 9 origin: APP_SMB_GARDIX pid: 7",
       wire({0x08, 0x0d, 0x10, 0x02, 0x50, 0x09, 0xf0, 0x01, 0x28, 0xf8, 0x01, 0x07})},
      {out, "tag: MY_THREAT_NOTIFICATION history_id: 300", wire({0x08, 0x0e, 0x60, 0xac, 0x02})},
      {out, "tag: OPEN_PROXY origin: APP_SMB_GARDIX pid: 7", wire({0x08, 0x28, 0xf0, 0x01, 0x28, 0xf8, 0x01, 0x07})},
      // The daemon sends all seven options, even where they equal the defaults.
      {out,
       "tag: PROXY_OPTIONS_NOTIFICATION proxy_options { scan_timeout_ms: 30000 heuristic_analysis: true "
       "packer_max_level: 8 archive_max_level: 0 mail_max_level: 8 container_max_level: 8 max_compression_ratio: 500 }",
       wire({0x08, 0x29, 0xc2, 0x02, 0x18, 0xf0, 0x01, 0xb0, 0xea, 0x01, 0xf8, 0x01, 0x01, 0x80, 0x02,
             0x08, 0x88, 0x02, 0x00, 0x90, 0x02, 0x08, 0x98, 0x02, 0x08, 0xa0, 0x02, 0xf4, 0x03})},
      {out, "tag: PROXY_SCAN_REQUEST serial: 3 path: '/a\\000b'",
       wire({0x08, 0x2a, 0x10, 0x03, 0x32, 0x04, '/', 'a', 0x00, 'b'})},
      {in, "tag: THREATS_SUBSCRIBED dbpath: '/d'", wire({0x08, 0x08, 0x7a, 0x02, '/', 'd'})},
      {in, "tag: PROXY_SCAN_RESPONSE serial: 3 scan_report { object: 'x' } threat_id: -3",
       wire({0x08, 0x29, 0x10, 0x03, 0x5a, 0x03, 0x0a, 0x01, 'x',  0x60,
             0xfd, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01})},
      {in, "tag: PROXY_SCAN_RESPONSE serial: 4 error { code: EC_SCAN_LIMIT_REACHED }",
       wire({0x08, 0x29, 0x10, 0x04, 0xa2, 0x06, 0x02, 0x08, 0x2d})},
      {in, "tag: THREAT_SYNC_RESPONSE serial: 2 history_id: 9", wire({0x08, 0x0c, 0x10, 0x02, 0x68, 0x09})},
      {in, "tag: THREATS_OP_RESPONSE serial: 5", wire({0x08, 0x0b, 0x10, 0x05})},
      {qn::ScanReport::default_instance(),
       "object: 'a' archive { type: SE_MAIL name: 'm' } cured: false item { object: 'b' error: SE_SCAN_TIMEOUT } "
       "log: 'l' fork_pid: 7",
       wire({0x0a, 0x01, 'a',  0x22, 0x05, 0x08, 0x02, 0x12, 0x01, 'm', 0x40, 0x00, 0xa2, 0x01,
             0x05, 0x0a, 0x01, 'b',  0x38, 0x28, 0xaa, 0x01, 0x01, 'l', 0x80, 0x05, 0x07})},
  };
  for (const auto& row : rows) expect_pinned(row);
}

}  // namespace
