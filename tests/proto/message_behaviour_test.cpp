// How the schemas behave on the wire: numbers outside an enum, required
// fields deep inside an envelope, declared defaults, oneofs and repeated
// fields in packed and unpacked form.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.pb.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/proto/proto_test_support.h"

#include "annotation.pb.h"
#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "disk.pb.h"
#include "dnsxl.pb.h"
#include "error.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "lexmap.pb.h"
#include "list.pb.h"
#include "log.pb.h"
#include "scan_report.pb.h"
#include "se_appinfo.pb.h"
#include "smb_gardix_appinfo.pb.h"
#include "smb_gardix_config.pb.h"
#include "socket.pb.h"

namespace {

using namespace proto_test;

// A number outside its enum goes to the unknown fields of the message that
// holds the field, and is written back unchanged. A required field is then
// missing, so the message that carries it, however deep, does not parse.
TEST(MessageBehaviour, EnumNumbersOutsideTheEnumGoToTheUnknownFields) {
  const std::string minus_one = wire({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01});
  const struct {
    const Message& prototype;
    std::string bytes;
    const char* missing;  // "": parses, and the field reads as unset
    int number;           // of the unknown field at the top; 0: it lies deeper
    uint64_t value;
  } rows[] = {
      {qn::Error::default_instance(), wire({0x08, 0x0e}), "code", 1, 14},
      {qn::Error::default_instance(), wire({0x08, 0x7e}), "code", 1, 126},
      {qn::Error::default_instance(), wire({0x08}) + minus_one, "code", 1, UINT64_MAX},
      {qn::AppInfo::default_instance(), key(1001, 0) + varint(1) + key(1000, 0) + varint(51), "app", 1000, 51},
      {qn::AppInfo::default_instance(),
       key(1000, 0) + varint(40) + key(1001, 0) + varint(1) + key(1103, 0) + varint(14), "", 1103, 14},
      {qn::ComponentControl::default_instance(), wire({0x10, 0x01, 0x08, 0x0b}), "app", 1, 11},
      {qn::Log::default_instance(), wire({0x08, 0x05}), "type", 1, 5},
      {qn::Log::default_instance(), wire({0x08, 0x01, 0x10, 0x04}), "", 2, 4},
      {qn::ScanReport::default_instance(), wire({0x0a, 0x01, 'a', 0x32, 0x05, 0x12, 0x01, 'v', 0x08, 0x09}),
       "virus[0].type", 0, 0},
      {qn::ScanReport::default_instance(), wire({0x0a, 0x01, 'a', 0x22, 0x05, 0x12, 0x01, 'z', 0x08, 0x04}),
       "archive.type", 0, 0},
      {qn::ScanReport::default_instance(), wire({0x0a, 0x01, 'a', 0x38, 0x31}), "", 7, 49},
      {qn::SMBShareConfig::default_instance(), wire({0xc2, 0x3e, 0x01, 's', 0xc8, 0x0c, 0x09}), "", 201, 9},
      {qn::SMBGardixConfig::default_instance(), wire({0x08, 0x06}), "", 1, 6},
      {qn::Configd2SMBGardixMessage::default_instance(), wire({0x08, 0x00}), "tag", 1, 0},
      {qn::Configd2SMBGardixMessage::default_instance(), wire({0x10, 0x05, 0x08, 0x04}), "tag", 1, 4},
      {qn::Configd2SMBGardixMessage::default_instance(), wire({0x08}) + minus_one, "tag", 1, UINT64_MAX},
      {qn::SMBGardix2ConfigdMessage::default_instance(), wire({0x08, 0x05}), "tag", 1, 5},
      {fc::ClientMessage::default_instance(), wire({0x08, 0x06}), "tag", 1, 6},
      {fc::ClientMessage::default_instance(), wire({0x08, 0x48}), "tag", 1, 72},
      {fc::ServerMessage::default_instance(), wire({0x08, 0x05}), "tag", 1, 5},
      {fc::ServerMessage::default_instance(), wire({0x08, 0x03, 0x22, 0x04, 0x08, 0x01, 0x10, 0x05}), "info[0].state",
       0, 0},
      {fc::ServerMessage::default_instance(), wire({0x08, 0x04, 0x2a, 0x05, 0x0a, 0x01, 'n', 0x10, 0x00}),
       "direntry[0].type", 0, 0},
      {fc::ServerMessage::default_instance(),
       wire({0x08, 0x03, 0x22, 0x0a, 0x08, 0x01, 0x10, 0x04, 0x22, 0x04, 0x08, 0x01, 0x10, 0x0e}),
       "info[0].result.final_status", 0, 0},
      {fc::ClientMessage::default_instance(), wire({0x08, 0x01, 0x1a, 0x04, 0x58, 0x01, 0x50, 0x0b}),
       "scan_request.origin", 0, 0},
      {fc::ClientMessage::default_instance(), wire({0x08, 0x0c, 0xb0, 0x01, 0x08}), "", 22, 8},
      {fc::ClientMessage::default_instance(), wire({0x08, 0x17, 0xc8, 0x01, 0x05}), "", 25, 5},
      {fc::ClientMessage::default_instance(), wire({0x08, 0x28, 0xf0, 0x01, 0x0b}), "", 30, 11},
      {fc::ActionSet::default_instance(), wire({0x10, 0x06}), "", 2, 6},
      {google::protobuf::FieldOptions::default_instance(), key(50001, 0) + varint(6), "", 50001, 6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.prototype.GetTypeName() + " " + hex(row.bytes));
    std::unique_ptr<Message> m(row.prototype.New());
    if (*row.missing)
      expect_unparsable(*m, row.bytes, row.missing);
    else
      ASSERT_TRUE(m->ParseFromString(row.bytes));
    if (row.number) expect_single_unknown_varint(*m, row.number, row.value);
    EXPECT_EQ(hex(m->SerializePartialAsString()), hex(row.bytes));
  }
  // The same bytes with a number of the enum parse.
  fc::ServerMessage m;
  ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x04, 0x2a, 0x05, 0x0a, 0x01, 'n', 0x10, 0x04})));
  EXPECT_EQ(m.direntry(0).type(), fc::DirEntry::DE_LINK_TO_FILE);
}

// A part that lacks a required field fails the whole message that carries it.
TEST(MessageBehaviour, MissingRequiredFieldsFailTheWholeEnvelope) {
  const struct {
    const Message& prototype;
    const char* text;
    const char* missing;
  } rows[] = {
      {fc::ServerMessage::default_instance(), "tag: PROXY_SCAN_RESPONSE serial: 1 scan_report { size: 1 }",
       "scan_report.object"},
      {fc::ServerMessage::default_instance(),
       "tag: SCAN_INFO_NOTIFICATION info { task_id: 1 state: SCAN_STATE_RUNNING report { scanreport { size: 1 } } }",
       "info[0].report[0].scanreport.object"},
      {fc::ServerMessage::default_instance(),
       "tag: PROXY_SCAN_RESPONSE scan_report { object: 'a' item { object: 'b' item { virus { type: SE_JOKE } } } }",
       "scan_report.item[0].item[0].object, scan_report.item[0].item[0].virus[0].name"},
      {fc::ServerMessage::default_instance(),
       "tag: ENUMERATE_DISKS_RESPONSE disks { dev_path: '/d' cylinders: 1 sectors: 1 size: 1 partitions { dev_path: "
       "'/p' } }",
       "disks[0].heads, disks[0].partitions[0].offset"},
      {fc::ServerMessage::default_instance(),
       "tag: QUARANTINE_NOTIFICATION qentry { entry_id: 'e' restore_path: '/r' creation_time: 1 report { object: 'o' "
       "} history { action: QENTRY_ACTION_RESTORE action_time: 2 } }",
       "qentry.stat, qentry.history[0].result"},
      {fc::ServerMessage::default_instance(), "tag: PROXY_SCAN_RESPONSE error { what: 'w' }", "error.code"},
      {fc::ServerMessage::default_instance(), "serial: 1", "tag"},
      {fc::ClientMessage::default_instance(), "tag: OPEN_FLOW flow_path { option_set: 2 }", "flow_path[0].path"},
      {qn::Configd2SMBGardixMessage::default_instance(),
       "tag: GET_CONFIG_RESPONSE config { share { item { alert_files: true } } }", "config.share.item[0].tag"},
      {qn::Configd2SMBGardixMessage::default_instance(),
       "tag: APPINFO_NOTIFICATION appinfo { app: APP_SMB_GARDIX pid: 1 [qn.smb_gardix_info] {} }",
       "appinfo[0].(qn.smb_gardix_info).state"},
      {qn::Configd2SMBGardixMessage::default_instance(), "config_revision: 5", "tag"},
      {qn::SMBGardix2ConfigdMessage::default_instance(),
       "tag: MY_STAT_NOTIFICATION stat { shares { share_path: '/s' base: 1 in: 2 out: 3 } shares { share_path: '/t' "
       "base: 1 in: 2 } }",
       "stat.shares[1].out"},
      {qn::AppConfig::default_instance(), "app: APP_SMB_GARDIX [qn.smb_gardix_config] { share { item {} } }",
       "(qn.smb_gardix_config).share.item[0].tag"},
      {qn::AppInfo::default_instance(),
       "app: APP_SCAN_ENGINE pid: 1 [qn.se_info] { virus_base { path: '/b' virus_records: 1 version: 2 timestamp: 3 "
       "load_result: EC_OK } }",
       "(qn.se_info).virus_base[0].md5"},
      {qn::LexMap::default_instance(), "option { key: 'b' value { item: 'x' } } option { key: 'a' map { option {} } }",
       "option[1].map.option[0].key"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    expect_incomplete(*from_text(row.prototype, row.text), row.missing);
  }
}

TEST(MessageBehaviour, DeclaredDefaults) {
  // The sector size reads 512 while unset, is then not written, and is
  // written once set, even to 512.
  qn::Disk disk;
  ASSERT_TRUE(disk.ParseFromString(wire({0x0a, 0x02, '/', 'd', 0x10, 0x01, 0x18, 0x02, 0x20, 0x03, 0x28, 0x04})));
  EXPECT_FALSE(disk.has_sector_size());
  EXPECT_EQ(disk.sector_size(), 512u);
  const std::string base = disk.SerializeAsString();
  EXPECT_EQ(base.size(), 12u);
  disk.set_sector_size(512);
  EXPECT_EQ(hex(disk.SerializeAsString()), hex(base + wire({0x48, 0x80, 0x04})));
  ASSERT_TRUE(disk.ParseFromString(base + wire({0x48, 0x00})));
  EXPECT_EQ(disk.sector_size(), 0u);

  // The proxy's scan options default apart from a scan request's.
  const fc::ProxyOptions p;
  EXPECT_EQ(std::make_tuple(p.scan_timeout_ms(), p.heuristic_analysis(), p.packer_max_level(), p.archive_max_level(),
                            p.mail_max_level(), p.container_max_level(), p.max_compression_ratio()),
            std::make_tuple(30000u, true, 8u, 0u, 8u, 8u, 500u));
  const fc::ScanRequest s;
  EXPECT_EQ(std::make_tuple(s.scan_timeout_ms(), s.heuristic_analysis(), s.packer_max_level(), s.archive_max_level(),
                            s.mail_max_level(), s.container_max_level(), s.max_compression_ratio()),
            std::make_tuple(0u, true, 8u, 8u, 8u, 8u, 500u));
  EXPECT_EQ(s.max_size_to_scan(), UINT64_MAX);
  EXPECT_EQ(s.max_size_to_extract(), UINT64_MAX);
  EXPECT_EQ(fc::FlowOptions().actions().on_hacktools(), qn::FILE_ACTION_REPORT);

  // An unset threat operation reads the first declared one.
  fc::ServerMessage answer;
  ASSERT_TRUE(answer.ParseFromString(wire({0x08, 0x0b})));
  EXPECT_FALSE(answer.has_op());
  EXPECT_EQ(answer.op(), qn::THREAT_OP_CURE);
}

TEST(MessageBehaviour, OneofHoldsOneMemberAndTheLastOnTheWireWins) {
  qn::LexOption option;
  option.set_key("k");
  EXPECT_EQ(option.data_case(), qn::LexOption::DATA_NOT_SET);
  option.mutable_value()->add_item("x");
  option.mutable_map()->add_option()->set_key("inner");
  EXPECT_EQ(option.data_case(), qn::LexOption::kMap);
  EXPECT_FALSE(option.has_value());
  EXPECT_EQ(option.value().item_size(), 0);
  ASSERT_TRUE(option.ParseFromString(wire({0x0a, 0x01, 'k', 0x12, 0x03, 0x0a, 0x01, 'x', 0x1a, 0x00})));
  EXPECT_EQ(option.data_case(), qn::LexOption::kMap);
  ASSERT_TRUE(option.ParseFromString(wire({0x0a, 0x01, 'k', 0x1a, 0x00, 0x12, 0x00})));
  EXPECT_EQ(option.data_case(), qn::LexOption::kValue);

  qn::AnySocket socket;
  socket.mutable_ip()->set_address("h");
  socket.mutable_ip()->set_port(1);
  EXPECT_EQ(hex(socket.SerializeAsString()), hex(wire({0x12, 0x05, 0x0a, 0x01, 'h', 0x10, 0x01})));
  socket.set_local("/s");
  EXPECT_FALSE(socket.has_ip());
  EXPECT_EQ(hex(socket.SerializeAsString()), hex(wire({0x0a, 0x02, '/', 's'})));
  socket.clear_type();
  EXPECT_EQ(socket.SerializeAsString(), "");
}

// Repeated numbers and enums go out one key per element; packed runs are
// read too. An element outside an enum goes aside and is written last.
TEST(MessageBehaviour, RepeatedFieldsAreWrittenUnpackedAndReadInBothForms) {
  const struct {
    const Message& prototype;
    std::string head;  // the message's required fields
    int number;
    uint64_t foreign;  // for enum lists, a number outside the enum
  } rows[] = {
      {qn::ProtocolList::default_instance(), "", 1, 7},
      {qn::UrlCategoryList::default_instance(), "", 1, 18},
      {qn::VirusTypeList::default_instance(), "", 1, 9},
      {qn::DNSxLReport::default_instance(), wire({0x0a, 0x01, 'z', 0x12, 0x01, 'r'}), 3, 0},
      {qn::ScanReport::default_instance(), wire({0x0a, 0x01, 'a'}), 50, 0},
      {fc::ServerMessage::default_instance(), wire({0x08, 0x0b}), 20, 0},
      {fc::ServerMessage::default_instance(), wire({0x08, 0x0b}), 21, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.prototype.GetTypeName() + " " + std::to_string(row.number));
    const std::vector<uint64_t> values = {1, row.foreign ? row.foreign : 300, 2};
    std::string unpacked, run;
    for (uint64_t v : values) unpacked += key(row.number, 0) + varint(v);
    for (uint64_t v : values) run += varint(v);
    const std::string packed = key(row.number, 2) + varint(run.size()) + run;
    const std::string mixed =
        key(row.number, 2) + varint(run.size() - 1) + run.substr(0, run.size() - 1) + key(row.number, 0) + varint(2);
    std::string out = unpacked;
    if (row.foreign)
      out = key(row.number, 0) + varint(1) + key(row.number, 0) + varint(2) + key(row.number, 0) + varint(row.foreign);
    for (const std::string& input : {unpacked, packed, mixed}) {
      SCOPED_TRACE(hex(input));
      std::unique_ptr<Message> m(row.prototype.New());
      ASSERT_TRUE(m->ParseFromString(row.head + input));
      EXPECT_EQ(hex(m->SerializeAsString()), hex(row.head + out));
      if (row.foreign) expect_single_unknown_varint(*m, row.number, row.foreign);
    }
  }
}

}  // namespace
