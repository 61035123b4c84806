// Behaviour of the daemon's own messages: its settings, the ConfigD
// conversation and the file-checker protocol. Every message the daemon
// exchanges is pinned byte for byte.
#include <gtest/gtest.h>

#include <google/protobuf/message.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/proto/proto_test_support.h"

#include "action.pb.h"
#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "error.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "log.pb.h"
#include "se_appinfo.pb.h"
#include "smb_gardix_appinfo.pb.h"
#include "smb_gardix_appstat.pb.h"
#include "smb_gardix_config.pb.h"

namespace {

using namespace proto_test;
using google::protobuf::Reflection;

// ---------------------------------------------------------------------------
// Settings

// An entry that sets only its tag, even an empty one, reads the implicit
// default of every setting: SMB_PASS for the actions, false, 0, empty lists.
TEST(ComponentMessages, ShareEntryWithOnlyATagReadsImplicitDefaults) {
  qn::SMBShareConfig entry;
  ASSERT_TRUE(entry.ParseFromString(wire({0xc2, 0x3e, 0x00})));
  EXPECT_TRUE(entry.has_tag());
  const Reflection* r = entry.GetReflection();
  for (int i = 0; i < entry.GetDescriptor()->field_count(); ++i) {
    const FieldDescriptor* f = entry.GetDescriptor()->field(i);
    if (f->name() == "tag") continue;
    SCOPED_TRACE(f->name());
    EXPECT_FALSE(r->HasField(entry, f));
    switch (f->cpp_type()) {
      case FieldDescriptor::CPPTYPE_BOOL:
        EXPECT_FALSE(r->GetBool(entry, f));
        break;
      case FieldDescriptor::CPPTYPE_UINT32:
        EXPECT_EQ(r->GetUInt32(entry, f), 0u);
        break;
      case FieldDescriptor::CPPTYPE_ENUM:
        EXPECT_EQ(r->GetEnumValue(entry, f), qn::SMB_PASS);
        break;
      case FieldDescriptor::CPPTYPE_MESSAGE:
        EXPECT_EQ(r->GetMessage(entry, f).ByteSizeLong(), 0u);
        break;
      default:
        ADD_FAILURE() << "unexpected setting type";
    }
  }
  EXPECT_EQ(qn::SMBGardixConfig().log_level(), qn::LOG_LEVEL_DEBUG);
  EXPECT_FALSE(qn::SMBGardixConfig().actual_log().has_type());
}

TEST(ComponentMessages, SettingEnumsOutsideTheirValuesAreLeftUnset) {
  // tag "s", then on_incurable (201) = 9 and on_adware (203) = 2
  qn::SMBShareConfig entry;
  ASSERT_TRUE(entry.ParseFromString(wire({0xc8, 0x0c, 0x09, 0xd8, 0x0c, 0x02, 0xc2, 0x3e, 0x01, 's'})));
  EXPECT_FALSE(entry.has_on_incurable());
  EXPECT_EQ(entry.on_incurable(), qn::SMB_PASS);
  EXPECT_EQ(entry.on_adware(), qn::SMB_BLOCK);
  expect_single_unknown_varint(entry, 201, 9);

  qn::SMBGardixConfig config;
  ASSERT_TRUE(config.ParseFromString(wire({0x08, 0x06})));
  EXPECT_FALSE(config.has_log_level());
  EXPECT_EQ(config.log_level(), qn::LOG_LEVEL_DEBUG);
  expect_single_unknown_varint(config, 1, 6);
}

TEST(ComponentMessages, SettingsWireFormat) {
  qn::SMBShareConfig entry;
  entry.set_tag("a");
  entry.set_on_known_virus(qn::SMB_BLOCK);
  entry.set_scan_timeout(300);
  entry.mutable_excluded_path()->add_item("x");
  const std::string entry_bytes =
      wire({0xa2, 0x06, 0x03, 0x0a, 0x01, 'x', 0xc0, 0x0c, 0x02, 0xe0, 0x12, 0xac, 0x02, 0xc2, 0x3e, 0x01, 'a'});
  EXPECT_EQ(hex(entry.SerializeAsString()), hex(entry_bytes));

  qn::SMBGardixConfig config;
  config.set_log_level(qn::LOG_LEVEL_NOTICE);
  config.mutable_actual_log()->set_type(qn::Log::STDERR);
  *config.mutable_share()->add_item() = entry;
  config.set_samba_chroot_dir("/c");
  config.set_action_delay(1000);
  config.set_max_cache_size(0);
  EXPECT_EQ(hex(config.SerializeAsString()), hex(wire({0x08, 0x03,  // log_level
                                                       0x82, 0x19, 0x13, 0x0a, 0x11}) +
                                                 entry_bytes +                            // share
                                                 wire({0xaa, 0x1f, 0x02, '/', 'c',        // samba_chroot_dir
                                                       0xf0, 0x1f, 0xe8, 0x07,            // action_delay
                                                       0xf8, 0x1f, 0x00,                  // max_cache_size
                                                       0xc2, 0x3e, 0x02, 0x08, 0x03})));  // actual_log
}

TEST(ComponentMessages, SettingsExtendTheConfigEnvelopeAt40) {
  qn::AppConfig envelope;
  envelope.set_app(qn::APP_SMB_GARDIX);
  envelope.MutableExtension(qn::smb_gardix_config)->set_start(true);
  EXPECT_EQ(hex(envelope.SerializeAsString()), hex(wire({0xc2, 0x02, 0x02, 0x20, 0x01, 0xc0, 0x3e, 0x28})));
  // A share entry without its tag inside the extension fails the envelope.
  envelope.MutableExtension(qn::smb_gardix_config)->mutable_share()->add_item();
  expect_incomplete(envelope, "(qn.smb_gardix_config).share.item[0].tag");
}

// ---------------------------------------------------------------------------
// ConfigD conversation

qn::SMBGardixShareStat full_share_stat() {
  qn::SMBGardixShareStat stat;
  stat.set_share_path("/s");
  stat.set_base(1);
  stat.set_in(2);
  stat.set_out(3);
  return stat;
}

TEST(ComponentMessages, MessagesToConfigDWireFormat) {
  qn::SMBGardix2ConfigdMessage request;
  request.set_tag(qn::SMBGardix2ConfigdMessage::GET_CONFIG_REQUEST);
  EXPECT_EQ(hex(request.SerializeAsString()), hex(wire({0x08, 0x01})));

  qn::SMBGardix2ConfigdMessage info;
  info.set_tag(qn::SMBGardix2ConfigdMessage::MY_INFO_NOTIFICATION);
  info.set_config_revision(7);
  info.mutable_info()->set_state(qn::EC_APP_SUSPENDED);
  EXPECT_EQ(hex(info.SerializeAsString()), hex(wire({0x08, 0x02, 0x10, 0x07, 0x32, 0x02, 0x08, 0x58})));
  info.mutable_info()->set_state(qn::EC_OK);
  EXPECT_EQ(hex(info.SerializeAsString()), hex(wire({0x08, 0x02, 0x10, 0x07, 0x32, 0x02, 0x08, 0x00})));

  qn::SMBGardix2ConfigdMessage stat;
  stat.set_tag(qn::SMBGardix2ConfigdMessage::MY_STAT_NOTIFICATION);
  *stat.mutable_stat()->add_shares() = full_share_stat();
  EXPECT_EQ(hex(stat.SerializeAsString()),
            hex(wire({0x08, 0x03, 0x2a, 0x0c, 0x0a, 0x0a, 0x0a, 0x02, '/', 's', 0x50, 0x01, 0x58, 0x02, 0x60, 0x03})));

  qn::SMBGardix2ConfigdMessage fcheck;
  fcheck.set_tag(qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST);
  fcheck.set_uid(1000);
  EXPECT_EQ(hex(fcheck.SerializeAsString()), hex(wire({0x08, 0x04, 0x20, 0xe8, 0x07})));
}

TEST(ComponentMessages, MessagesFromConfigDParse) {
  // GET_CONFIG_RESPONSE: revision 5, settings with one share "x", control {app 40, suspended}
  const std::string config_bytes = wire({0x08, 0x01, 0x10, 0x05, 0x22, 0x09, 0x82, 0x19, 0x06, 0x0a, 0x04,
                                         0xc2, 0x3e, 0x01, 'x',  0xa2, 0x01, 0x04, 0x08, 0x28, 0x10, 0x01});
  qn::Configd2SMBGardixMessage m;
  ASSERT_TRUE(m.ParseFromString(config_bytes));
  EXPECT_EQ(m.tag(), qn::Configd2SMBGardixMessage::GET_CONFIG_RESPONSE);
  EXPECT_EQ(m.config_revision(), 5u);
  EXPECT_EQ(m.config().share().item(0).tag(), "x");
  EXPECT_TRUE(m.control().suspended());
  EXPECT_EQ(m.SerializeAsString(), config_bytes);

  // GET_FCHECK_RESPONSE: socket_path "/r", uid 0, error {code 8}
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x02, 0x32, 0x02, '/', 'r', 0x38, 0x00, 0xa2, 0x06, 0x02, 0x08, 0x08})));
  EXPECT_EQ(m.socket_path(), "/r");
  EXPECT_TRUE(m.has_uid());
  EXPECT_EQ(m.error().code(), qn::EC_BAD_MESSAGE_FORMAT);

  // APPINFO_NOTIFICATION with one scan-engine entry; undeclared fields 3 and 5 go aside.
  qn::AppInfo engine;
  engine.set_app(qn::APP_SCAN_ENGINE);
  engine.set_pid(1);
  engine.MutableExtension(qn::se_info)->set_core_fingerprint("A");
  const std::string entry = engine.SerializeAsString();
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x03, 0x18, 0x09}) + key(8, 2) + varint(entry.size()) + entry +
                                wire({0x2a, 0x02, 'z', 'z'})));
  ASSERT_EQ(m.appinfo_size(), 1);
  EXPECT_EQ(m.appinfo(0).GetExtension(qn::se_info).core_fingerprint(), "A");
  const auto& unknown = m.GetReflection()->GetUnknownFields(m);
  ASSERT_EQ(unknown.field_count(), 2);
  EXPECT_EQ(unknown.field(0).number(), 3);
  EXPECT_EQ(unknown.field(1).length_delimited(), "zz");
}

TEST(ComponentMessages, ConfigDTagMissingOrOutsideItsEnumMakesTheMessageUnparsable) {
  const struct {
    const char* what;
    std::string bytes;
    int unknown_count;
  } rows[] = {
      {"no tag", wire({0x10, 0x05}), 0},
      {"tag 0", wire({0x08, 0x00}), 1},
      {"tag 4", wire({0x08, 0x04, 0x10, 0x05}), 1},
      {"tag -1", wire({0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}), 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::Configd2SMBGardixMessage m;
    expect_unparsable(m, row.bytes, "tag");
    EXPECT_EQ(m.GetReflection()->GetUnknownFields(m).field_count(), row.unknown_count);
  }
  qn::SMBGardix2ConfigdMessage out;
  expect_unparsable(out, wire({0x08, 0x05}), "tag");
}

TEST(ComponentMessages, IncompletePartsFailTheConfigDMessagesAsAWhole) {
  // GET_CONFIG_RESPONSE whose settings hold a share entry with only alert_files
  qn::Configd2SMBGardixMessage in;
  expect_unparsable(in, wire({0x08, 0x01, 0x10, 0x05, 0x22, 0x08, 0x82, 0x19, 0x05, 0x0a, 0x03, 0xb0, 0x06, 0x01}),
                    "config.share.item[0].tag");
  EXPECT_TRUE(in.config().share().item(0).alert_files());

  // An application info whose extension is not initialised
  in.Clear();
  in.set_tag(qn::Configd2SMBGardixMessage::APPINFO_NOTIFICATION);
  qn::AppInfo* info = in.add_appinfo();
  info->set_app(qn::APP_SMB_GARDIX);
  info->set_pid(1);
  info->MutableExtension(qn::smb_gardix_info);
  expect_incomplete(in, "appinfo[0].(qn.smb_gardix_info).state");

  const std::vector<std::pair<const char*, std::function<void(qn::SMBGardixShareStat&)>>> gaps = {
      {"share_path", [](qn::SMBGardixShareStat& s) { s.clear_share_path(); }},
      {"base", [](qn::SMBGardixShareStat& s) { s.clear_base(); }},
      {"in", [](qn::SMBGardixShareStat& s) { s.clear_in(); }},
      {"out", [](qn::SMBGardixShareStat& s) { s.clear_out(); }},
  };
  for (const auto& gap : gaps) {
    SCOPED_TRACE(gap.first);
    qn::SMBGardix2ConfigdMessage out;
    out.set_tag(qn::SMBGardix2ConfigdMessage::MY_STAT_NOTIFICATION);
    *out.mutable_stat()->add_shares() = full_share_stat();
    *out.mutable_stat()->add_shares() = full_share_stat();
    gap.second(*out.mutable_stat()->mutable_shares(1));
    expect_incomplete(out, std::string("stat.shares[1].") + gap.first);
  }
  EXPECT_TRUE(qn::SMBGardixAppStat().IsInitialized());
}

TEST(ComponentMessages, InfoAndStatisticsExtendTheEnvelopesAt40) {
  qn::AppInfo info;
  info.set_app(qn::APP_SMB_GARDIX);
  info.set_pid(1);
  info.MutableExtension(qn::smb_gardix_info)->set_state(qn::EC_APP_SUSPENDED);
  EXPECT_EQ(hex(info.SerializeAsString()),
            hex(wire({0xc2, 0x02, 0x02, 0x08, 0x58, 0xc0, 0x3e, 0x28, 0xc8, 0x3e, 0x01})));

  qn::AppStat stat;
  stat.set_app(qn::APP_SMB_GARDIX);
  stat.set_pid(2);
  *stat.MutableExtension(qn::smb_gardix_appstat)->add_shares() = full_share_stat();
  EXPECT_EQ(hex(stat.SerializeAsString()), hex(wire({0xc2, 0x02, 0x0c, 0x0a, 0x0a, 0x0a, 0x02, '/',  's',  0x50, 0x01,
                                                     0x58, 0x02, 0x60, 0x03, 0xc0, 0x3e, 0x28, 0xc8, 0x3e, 0x02})));
}

// ---------------------------------------------------------------------------
// File-checker protocol

// Every tag number from 0 to 127 parses exactly when its enum lists it; any
// other lands among the unknown fields and leaves the tag missing.
template <typename envelope_t>
void expect_tags_parse_exactly_when_valid(bool (*is_valid)(int)) {
  int listed = 0;
  for (unsigned n = 0; n < 128; ++n) {
    SCOPED_TRACE(n);
    envelope_t m;
    if (is_valid(static_cast<int>(n))) {
      ++listed;
      ASSERT_TRUE(m.ParseFromString(wire({0x08, n})));
      EXPECT_EQ(static_cast<unsigned>(m.tag()), n);
    } else {
      expect_unparsable(m, wire({0x08, n}), "tag");
      expect_single_unknown_varint(m, 1, n);
    }
  }
  EXPECT_EQ(listed, 30);
}

TEST(ComponentMessages, FileCheckerTagsOutsideTheirEnumsMakeTheEnvelopeUnparsable) {
  expect_tags_parse_exactly_when_valid<fc::ClientMessage>(fc::ClientMessage::ClientMessageTag_IsValid);
  expect_tags_parse_exactly_when_valid<fc::ServerMessage>(fc::ServerMessage::ServerMessageTag_IsValid);
  fc::ServerMessage m;
  expect_unparsable(m, wire({0x10, 0x01}), "tag");
}

TEST(ComponentMessages, FileCheckerOptionalEnumsOutsideTheirValuesAreLeftUnset) {
  const struct {
    const char* what;
    int number;
    uint64_t value;
  } rows[] = {{"op 8", 22, 8}, {"op 0", 22, 0}, {"q_op 5", 25, 5}, {"origin 11", 30, 11}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fc::ClientMessage m;
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0c}) + key(row.number, 0) + varint(row.value)));
    EXPECT_FALSE(m.has_op() || m.has_q_op() || m.has_origin());
    expect_single_unknown_varint(m, row.number, row.value);
  }
  // An unset op reads as the first declared value, not the lowest number.
  fc::ServerMessage s;
  ASSERT_TRUE(s.ParseFromString(wire({0x08, 0x0b, 0x80, 0x01, 0x09})));
  EXPECT_FALSE(s.has_op());
  EXPECT_EQ(s.op(), qn::THREAT_OP_CURE);
  EXPECT_EQ(fc::ClientMessage().op(), qn::THREAT_OP_CURE);
  EXPECT_EQ(fc::ClientMessage().q_op(), qn::QENTRY_ACTION_DELETE);
  EXPECT_EQ(fc::ClientMessage().origin(), qn::APP_CONFIGD);
  for (unsigned op = 1; op <= 7; ++op) {
    ASSERT_TRUE(s.ParseFromString(wire({0x08, 0x0b, 0x80, 0x01, op})));
    EXPECT_EQ(static_cast<unsigned>(s.op()), op);
  }
}

TEST(ComponentMessages, OptionDefaultsOfProxyFlowAndScanRequestDiffer) {
  const fc::ProxyOptions proxy;
  const fc::FlowOptions flow;
  const fc::ScanRequest scan;
  EXPECT_EQ(proxy.archive_max_level(), 0u);
  EXPECT_EQ(flow.archive_max_level(), 0u);
  EXPECT_EQ(scan.archive_max_level(), 8u);
  EXPECT_EQ(proxy.scan_timeout_ms(), 30000u);
  EXPECT_EQ(flow.scan_timeout_ms(), 30000u);
  EXPECT_EQ(scan.scan_timeout_ms(), 0u);
  EXPECT_TRUE(proxy.heuristic_analysis() && flow.heuristic_analysis() && scan.heuristic_analysis());
  EXPECT_EQ(proxy.max_compression_ratio(), 500u);
  EXPECT_EQ(scan.max_size_to_scan(), UINT64_MAX);
  EXPECT_EQ(scan.max_size_to_extract(), UINT64_MAX);
  EXPECT_EQ(flow.actions().on_hacktools(), qn::FILE_ACTION_REPORT);

  fc::ProxyOptions changed;
  changed.set_scan_timeout_ms(5);
  changed.clear_scan_timeout_ms();
  EXPECT_EQ(changed.scan_timeout_ms(), 30000u);

  // An action outside the enum goes aside; the field reads its default.
  fc::ActionSet actions;
  ASSERT_TRUE(actions.ParseFromString(wire({0x10, 0x06})));
  EXPECT_FALSE(actions.has_on_incurable());
  EXPECT_EQ(actions.on_incurable(), qn::FILE_ACTION_REPORT);
  expect_single_unknown_varint(actions, 2, 6);
}

// A fresh ProxyOptions is empty on the wire; the daemon's carries all seven
// fields even when they equal the defaults.
TEST(ComponentMessages, ProxyOptionsNotificationWireFormat) {
  fc::ProxyOptions options;
  EXPECT_EQ(options.SerializeAsString(), "");
  options.set_scan_timeout_ms(30000);
  options.set_heuristic_analysis(true);
  options.set_packer_max_level(8);
  options.set_archive_max_level(0);
  options.set_mail_max_level(8);
  options.set_container_max_level(8);
  options.set_max_compression_ratio(500);
  fc::ClientMessage m;
  m.set_tag(fc::ClientMessage::PROXY_OPTIONS_NOTIFICATION);
  *m.mutable_proxy_options() = options;
  EXPECT_EQ(hex(m.SerializeAsString()),
            hex(wire({0x08, 0x29, 0xc2, 0x02, 0x18, 0xf0, 0x01, 0xb0, 0xea, 0x01, 0xf8, 0x01, 0x01, 0x80, 0x02,
                      0x08, 0x88, 0x02, 0x00, 0x90, 0x02, 0x08, 0x98, 0x02, 0x08, 0xa0, 0x02, 0xf4, 0x03})));
}

TEST(ComponentMessages, RequestsToTheFileCheckerWireFormat) {
  fc::ClientMessage subscribe;
  subscribe.set_tag(fc::ClientMessage::SUBSCRIBE_TO_THREATS);
  EXPECT_EQ(hex(subscribe.SerializeAsString()), hex(wire({0x08, 0x0a})));

  fc::ClientMessage op;
  op.set_tag(fc::ClientMessage::THREAT_OP_REQUEST);
  op.set_serial(1);
  op.set_threat_id(-5);
  op.set_op(qn::THREAT_OP_IGNORE);
  op.set_origin(qn::APP_SMB_GARDIX);
  op.set_pid(1234);
  EXPECT_EQ(hex(op.SerializeAsString()),
            hex(wire({0x08, 0x0c, 0x10, 0x01, 0x50, 0xfb, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                      0xff, 0x01, 0xb0, 0x01, 0x07, 0xf0, 0x01, 0x28, 0xf8, 0x01, 0xd2, 0x09})));

  fc::ClientMessage sync;
  sync.set_tag(fc::ClientMessage::THREAT_SYNC_REQUEST);
  sync.set_serial(2);
  sync.set_threat_id(9);
  sync.set_origin(qn::APP_SMB_GARDIX);
  sync.set_pid(7);
  EXPECT_EQ(hex(sync.SerializeAsString()),
            hex(wire({0x08, 0x0d, 0x10, 0x02, 0x50, 0x09, 0xf0, 0x01, 0x28, 0xf8, 0x01, 0x07})));

  fc::ClientMessage mine;
  mine.set_tag(fc::ClientMessage::MY_THREAT_NOTIFICATION);
  mine.set_history_id(300);
  EXPECT_EQ(hex(mine.SerializeAsString()), hex(wire({0x08, 0x0e, 0x60, 0xac, 0x02})));

  fc::ClientMessage open;
  open.set_tag(fc::ClientMessage::OPEN_PROXY);
  open.set_origin(qn::APP_SMB_GARDIX);
  open.set_pid(7);
  EXPECT_EQ(hex(open.SerializeAsString()), hex(wire({0x08, 0x28, 0xf0, 0x01, 0x28, 0xf8, 0x01, 0x07})));

  fc::ClientMessage scan;
  scan.set_tag(fc::ClientMessage::PROXY_SCAN_REQUEST);
  scan.set_serial(3);
  scan.set_path(std::string("/a\0b", 4));
  EXPECT_EQ(hex(scan.SerializeAsString()), hex(wire({0x08, 0x2a, 0x10, 0x03, 0x32, 0x04, '/', 'a', 0x00, 'b'})));
}

TEST(ComponentMessages, AnswersOfTheFileCheckerParse) {
  fc::ServerMessage m;
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x08, 0x7a, 0x02, '/', 'd'})));
  EXPECT_EQ(m.tag(), fc::ServerMessage::THREATS_SUBSCRIBED);
  EXPECT_EQ(m.dbpath(), "/d");

  // PROXY_SCAN_RESPONSE with a report and a provisional threat id -3
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x29, 0x10, 0x03, 0x5a, 0x03, 0x0a, 0x01, 'x',  0x60,
                                      0xfd, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01})));
  EXPECT_EQ(m.serial(), 3u);
  EXPECT_EQ(m.scan_report().object(), "x");
  EXPECT_EQ(m.threat_id(), -3);
  EXPECT_FALSE(m.has_error());

  // PROXY_SCAN_RESPONSE with only an error
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x29, 0x10, 0x04, 0xa2, 0x06, 0x02, 0x08, 0x2d})));
  EXPECT_FALSE(m.has_scan_report());
  EXPECT_EQ(m.error().code(), qn::EC_SCAN_LIMIT_REACHED);

  // THREAT_SYNC_RESPONSE with a history id
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0c, 0x10, 0x02, 0x68, 0x09})));
  EXPECT_EQ(m.history_id(), 9);

  // THREATS_OP_RESPONSE with only tag and serial
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0b, 0x10, 0x05})));
  EXPECT_FALSE(m.has_error());

  // allow and deny: one key per element out, packed runs accepted in
  const std::string unpacked = wire({0x08, 0x0b, 0xa0, 0x01, 0x01, 0xa0, 0x01, 0xac, 0x02, 0xa8, 0x01, 0x02});
  for (const std::string& input :
       {unpacked, wire({0x08, 0x0b, 0xa2, 0x01, 0x03, 0x01, 0xac, 0x02, 0xaa, 0x01, 0x01, 0x02})}) {
    ASSERT_TRUE(m.ParseFromString(input));
    ASSERT_EQ(m.allow_size(), 2);
    EXPECT_EQ(m.allow(1), 300u);
    EXPECT_EQ(hex(m.SerializeAsString()), hex(unpacked));
  }
}

struct payload_row_t {
  std::function<void(fc::ServerMessage&)> fill;
  const char* missing;
};

// A payload that lacks a required field fails the whole envelope.
TEST(ComponentMessages, IncompletePayloadFailsTheFileCheckerEnvelope) {
  const auto report_without_object = [](fc::ServerMessage& m) {
    auto* info = m.add_info();
    info->set_task_id(1);
    info->set_state(fc::SCAN_STATE_RUNNING);
    info->add_report()->mutable_scanreport()->set_size(1);
  };
  const std::vector<payload_row_t> rows = {
      {[](fc::ServerMessage& m) { m.mutable_scan_report()->set_size(1); }, "scan_report.object"},
      {[](fc::ServerMessage& m) {
         qn::ScanReport* outer = m.mutable_scan_report();
         outer->set_object("a");
         outer->add_item()->set_object("b");
         outer->mutable_item(0)->add_item()->add_virus()->set_type(qn::SE_JOKE);
       },
       "scan_report.item[0].item[0].object, scan_report.item[0].item[0].virus[0].name"},
      {report_without_object, "info[0].report[0].scanreport.object"},
      {[](fc::ServerMessage& m) { m.add_info()->set_task_id(1); }, "info[0].state"},
      {[](fc::ServerMessage& m) { m.add_direntry()->set_name("n"); }, "direntry[0].type"},
      {[](fc::ServerMessage& m) {
         m.add_qentry_ids()->set_file_id(1);
         m.mutable_qentry_ids(0)->set_entry_id("e");
       },
       "qentry_ids[0].chunk_id"},
      {[](fc::ServerMessage& m) {
         auto* disk = m.add_disks();
         disk->set_dev_path("/dev/x");
         disk->set_cylinders(1);
         disk->set_sectors(1);
         disk->set_size(1);
         disk->add_partitions()->set_dev_path("/dev/x1");
       },
       "disks[0].heads, disks[0].partitions[0].offset"},
      {[](fc::ServerMessage& m) { m.mutable_stat()->set_dev(1); }, "stat.ino"},
      {[](fc::ServerMessage& m) { m.mutable_error()->set_what("w"); }, "error.code"},
      {[](fc::ServerMessage& m) {
         qn::QEntry* entry = m.mutable_qentry();
         entry->set_entry_id("e");
         entry->set_restore_path("/r");
         entry->set_creation_time(1);
         entry->mutable_report()->set_object("o");
         entry->add_history()->set_action(qn::QENTRY_ACTION_RESTORE);
         entry->mutable_history(0)->set_action_time(2);
       },
       "qentry.stat, qentry.history[0].result"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.missing);
    fc::ServerMessage m;
    m.set_tag(fc::ServerMessage::PROXY_SCAN_RESPONSE);
    m.set_serial(1);
    row.fill(m);
    expect_incomplete(m, row.missing);
  }

  fc::ClientMessage client;
  client.set_tag(fc::ClientMessage::OPEN_FLOW);
  client.add_flow_path()->set_option_set(2);
  expect_incomplete(client, "flow_path[0].path");
  client.mutable_flow_path(0)->set_path("");
  client.mutable_scan_report()->add_virus()->set_name("v");
  client.mutable_scan_report()->set_object("o");
  expect_incomplete(client, "scan_report.virus[0].type");
}

// A required enum field whose number is outside its enum is missing, and the
// message that carries it does not parse.
TEST(ComponentMessages, RequiredEnumOutsideItsValuesFailsTheFileCheckerEnvelope) {
  const struct {
    const char* what;
    std::string bytes;
    const char* missing;
  } rows[] = {
      {"scan state 5", wire({0x08, 0x03, 0x22, 0x04, 0x08, 0x01, 0x10, 0x05}), "info[0].state"},
      {"scan state 0", wire({0x08, 0x03, 0x22, 0x04, 0x08, 0x01, 0x10, 0x00}), "info[0].state"},
      {"dir entry type 5", wire({0x08, 0x04, 0x2a, 0x05, 0x0a, 0x01, 'n', 0x10, 0x05}), "direntry[0].type"},
      {"final status 14", wire({0x08, 0x03, 0x22, 0x0a, 0x08, 0x01, 0x10, 0x04, 0x22, 0x04, 0x08, 0x01, 0x10, 0x0e}),
       "info[0].result.final_status"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fc::ServerMessage m;
    expect_unparsable(m, row.bytes, row.missing);
  }
  fc::ServerMessage m;
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x04, 0x2a, 0x05, 0x0a, 0x01, 'n', 0x10, 0x04})));
  EXPECT_EQ(m.direntry(0).type(), fc::DirEntry::DE_LINK_TO_FILE);

  // START_SCAN_REQUEST whose request names origin 11, no application
  fc::ClientMessage client;
  expect_unparsable(client, wire({0x08, 0x01, 0x1a, 0x04, 0x50, 0x0b, 0x58, 0x01}), "scan_request.origin");
  ASSERT_TRUE(client.ParseFromString(wire({0x08, 0x01, 0x1a, 0x04, 0x50, 0x28, 0x58, 0x01})));
  EXPECT_EQ(client.scan_request().origin(), qn::APP_SMB_GARDIX);
}

}  // namespace
