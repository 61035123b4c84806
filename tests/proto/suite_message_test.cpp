// Behaviour of the shared messages: wire bytes, implicit and declared
// defaults, required fields, unknown enum numbers, oneofs and repeated fields.
#include <gtest/gtest.h>

#include <google/protobuf/message.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/proto/proto_test_support.h"

#include "application.pb.h"
#include "connection_match.pb.h"
#include "disk.pb.h"
#include "dnsxl.pb.h"
#include "error.pb.h"
#include "file.pb.h"
#include "lexmap.pb.h"
#include "list.pb.h"
#include "log.pb.h"
#include "quarantine.pb.h"
#include "remote_user.pb.h"
#include "scan_report.pb.h"
#include "se_appinfo.pb.h"
#include "socket.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

using namespace proto_test;

// A message built whole, then spoilt by one row of a table.
template <typename message_t>
struct spoil_row_t {
  const char* missing;  // what InitializationErrorString() names
  std::function<void(message_t&)> spoil;
};

template <typename message_t>
void expect_each_spoil_fails(const message_t& whole, const std::vector<spoil_row_t<message_t>>& rows) {
  ASSERT_TRUE(whole.IsInitialized());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.missing);
    message_t m = whole;
    row.spoil(m);
    expect_incomplete(m, row.missing);
  }
}

// ---------------------------------------------------------------------------
// qn::Error

TEST(SuiteMessages, ErrorWireFormatAndRequiredCode) {
  qn::Error error;
  EXPECT_EQ(error.code(), qn::EC_OK);
  error.set_code(qn::EC_BAD_CONFIG);
  error.set_what("x");
  EXPECT_EQ(hex(error.SerializeAsString()), hex(wire({0x08, 0x66, 0x12, 0x01, 'x'})));
  error.set_code(qn::EC_OK);
  error.clear_what();
  EXPECT_EQ(hex(error.SerializeAsString()), hex(wire({0x08, 0x00})));  // present though default

  qn::Error parsed;
  expect_unparsable(parsed, wire({0x12, 0x03, 'a', 'b', 'c'}), "code");
  EXPECT_EQ(parsed.what(), "abc");
}

TEST(SuiteMessages, ErrorCodeOutsideTheEnumIsUnknownSoTheCodeIsMissing) {
  const struct {
    const char* what;
    std::string bytes;
    uint64_t unknown;
  } rows[] = {
      {"gap 14", wire({0x08, 0x0e}), 14},
      {"gap 103", wire({0x08, 0x67}), 103},
      {"126", wire({0x08, 0x7e}), 126},
      {"-1", wire({0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}), UINT64_MAX},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::Error error;
    expect_unparsable(error, row.bytes, "code");
    EXPECT_EQ(error.code(), qn::EC_OK);
    expect_single_unknown_varint(error, 1, row.unknown);
    EXPECT_EQ(error.SerializePartialAsString(), row.bytes);  // carried back unchanged
  }
}

// ---------------------------------------------------------------------------
// Application envelopes and the sibling info that extends them

qn::SEVirusBase full_base() {
  qn::SEVirusBase base;
  base.set_path("/b");
  base.set_virus_records(1);
  base.set_version(2);
  base.set_timestamp(3);
  base.set_md5("m");
  base.set_load_result(qn::EC_OK);
  return base;
}

TEST(SuiteMessages, EnvelopesDefaultToTheFirstApplicationAndNeedTheirRequiredFields) {
  EXPECT_EQ(qn::AppInfo().app(), qn::APP_CONFIGD);
  EXPECT_FALSE(qn::AppInfo().has_app());
  EXPECT_EQ(static_cast<int>(qn::ComponentControl().app()), 1);

  qn::AppInfo info;
  info.set_app(qn::APP_SMB_GARDIX);
  info.set_pid(7);
  expect_each_spoil_fails<qn::AppInfo>(
      info, {{"app", [](qn::AppInfo& m) { m.clear_app(); }}, {"pid", [](qn::AppInfo& m) { m.clear_pid(); }}});
  qn::AppStat stat;
  stat.set_app(qn::APP_SMB_GARDIX);
  stat.set_pid(7);
  expect_each_spoil_fails<qn::AppStat>(
      stat, {{"app", [](qn::AppStat& m) { m.clear_app(); }}, {"pid", [](qn::AppStat& m) { m.clear_pid(); }}});
  expect_incomplete(qn::AppConfig(), "app");
  qn::ComponentControl control;
  control.set_app(qn::APP_SMB_GARDIX);
  expect_incomplete(control, "suspended");
}

TEST(SuiteMessages, ApplicationOutsideTheEnumLeavesTheEnvelopeWithoutApp) {
  for (uint64_t number : {0, 11, 39, 51, 101, 204, 501}) {
    SCOPED_TRACE(number);
    const std::string app = key(1000, 0) + varint(number);
    qn::AppInfo info;
    expect_unparsable(info, app + key(1001, 0) + varint(1), "app");
    expect_single_unknown_varint(info, 1000, number);
    qn::AppStat stat;
    expect_unparsable(stat, app + key(1001, 0) + varint(1), "app");
    qn::AppConfig config;
    expect_unparsable(config, app, "app");
    qn::ComponentControl control;
    expect_unparsable(control, key(1, 0) + varint(number) + wire({0x10, 0x01}), "app");
  }
  // An optional enum field only sets the number aside.
  qn::AppInfo info;
  ASSERT_TRUE(info.ParseFromString(key(1000, 0) + varint(40) + key(1001, 0) + varint(1) + key(1103, 0) + varint(14)));
  EXPECT_FALSE(info.has_exit_code());
  expect_single_unknown_varint(info, 1103, 14);
}

TEST(SuiteMessages, ComponentControlAsConfigDSendsIt) {
  qn::ComponentControl control;
  ASSERT_TRUE(control.ParseFromString(wire({0x08, 0x28, 0x10, 0x01})));
  EXPECT_EQ(control.app(), qn::APP_SMB_GARDIX);
  EXPECT_TRUE(control.suspended());
  EXPECT_EQ(hex(control.SerializeAsString()), hex(wire({0x08, 0x28, 0x10, 0x01})));
}

TEST(SuiteMessages, SiblingInfoTravelsAsExtensionsOfAppInfo) {
  qn::AppInfo engine;
  engine.set_app(qn::APP_SCAN_ENGINE);
  engine.set_pid(1);
  engine.MutableExtension(qn::se_info)->set_core_fingerprint("A");
  // The extension (2) comes before the envelope's own fields (1000, 1001).
  const std::string engine_bytes = wire({0x12, 0x03, 0x2a, 0x01, 'A', 0xc0, 0x3e, 0x02, 0xc8, 0x3e, 0x01});
  EXPECT_EQ(hex(engine.SerializeAsString()), hex(engine_bytes));

  const std::string vornd_bytes = key(52, 2) + varint(5) + key(1, 2) + varint(3) + key(5, 2) + varint(1) + "B" +
                                  key(1000, 0) + varint(52) + key(1001, 0) + varint(9);
  qn::AppInfo vornd;
  ASSERT_TRUE(vornd.ParseFromString(vornd_bytes));
  EXPECT_FALSE(vornd.HasExtension(qn::se_info));
  ASSERT_TRUE(vornd.HasExtension(qn::vornd_info));
  EXPECT_EQ(vornd.GetExtension(qn::vornd_info).se_adaptor_info().core_fingerprint(), "B");
  EXPECT_EQ(vornd.unknown_fields().field_count(), 0);
  EXPECT_EQ(vornd.SerializeAsString(), vornd_bytes);
}

TEST(SuiteMessages, EnvelopeNeedsItsExtensionsInitialised) {
  qn::AppInfo info;
  info.set_app(qn::APP_SCAN_ENGINE);
  info.set_pid(1);
  *info.MutableExtension(qn::se_info)->add_virus_base() = full_base();
  const auto base = [](qn::AppInfo& m) { return m.MutableExtension(qn::se_info)->mutable_virus_base(0); };
  // Named by the extension's full name in brackets.
  expect_each_spoil_fails<qn::AppInfo>(
      info, {
                {"(qn.se_info).virus_base[0].path", [&](qn::AppInfo& m) { base(m)->clear_path(); }},
                {"(qn.se_info).virus_base[0].virus_records", [&](qn::AppInfo& m) { base(m)->clear_virus_records(); }},
                {"(qn.se_info).virus_base[0].version", [&](qn::AppInfo& m) { base(m)->clear_version(); }},
                {"(qn.se_info).virus_base[0].timestamp", [&](qn::AppInfo& m) { base(m)->clear_timestamp(); }},
                {"(qn.se_info).virus_base[0].md5", [&](qn::AppInfo& m) { base(m)->clear_md5(); }},
                {"(qn.se_info).virus_base[0].load_result", [&](qn::AppInfo& m) { base(m)->clear_load_result(); }},
            });

  qn::AppInfo vornd;
  vornd.set_app(qn::APP_VORND);
  vornd.set_pid(1);
  vornd.MutableExtension(qn::vornd_info)->set_engine_es_id("e");
  ASSERT_TRUE(vornd.IsInitialized());
  vornd.MutableExtension(qn::vornd_info)->mutable_se_adaptor_info()->add_virus_base()->set_path("/b");
  EXPECT_FALSE(vornd.IsInitialized());

  // A load result outside the error codes leaves the base incomplete.
  std::string bytes = full_base().SerializeAsString();
  ASSERT_EQ(bytes.substr(bytes.size() - 2), wire({0x30, 0x00}));
  bytes.back() = 14;
  qn::SEVirusBase parsed;
  expect_unparsable(parsed, bytes, "load_result");
}

// ---------------------------------------------------------------------------
// Log settings

TEST(SuiteMessages, LogDefaultsWireFormatAndUnknownNumbers) {
  const qn::Log fresh;
  EXPECT_EQ(fresh.type(), qn::Log::SYSLOG);
  EXPECT_EQ(fresh.facility(), qn::Log::DAEMON);
  EXPECT_FALSE(fresh.has_type());
  EXPECT_FALSE(fresh.has_facility());
  EXPECT_EQ(fresh.InitializationErrorString(), "type");

  qn::Log log;
  log.set_show_timestamp(true);
  log.set_path("/x");
  log.set_ident("i");
  log.set_facility(qn::Log::LOCAL7);
  log.set_type(qn::Log::FILE);
  EXPECT_EQ(hex(log.SerializeAsString()),
            hex(wire({0x08, 0x02, 0x10, 0x11, 0x1a, 0x01, 'i', 0x52, 0x02, '/', 'x', 0xa0, 0x01, 0x01})));

  for (unsigned facility = 4; facility <= 9; ++facility) {
    SCOPED_TRACE(facility);
    qn::Log parsed;
    ASSERT_TRUE(parsed.ParseFromString(wire({0x08, 0x01, 0x10, facility})));
    EXPECT_FALSE(parsed.has_facility());
    EXPECT_EQ(parsed.facility(), qn::Log::DAEMON);
    expect_single_unknown_varint(parsed, 2, facility);
  }
  for (unsigned type : {0, 5, 127}) {
    qn::Log parsed;
    expect_unparsable(parsed, wire({0x08, type}), "type");
  }
}

// ---------------------------------------------------------------------------
// Remote user and file status

TEST(SuiteMessages, RemoteUserWireFormat) {
  qn::RemoteUser user;
  EXPECT_TRUE(user.IsInitialized());
  EXPECT_EQ(user.SerializeAsString(), "");
  user.set_domain("d");
  user.set_user("u");
  user.set_ip("1.2.3.4");
  EXPECT_EQ(hex(user.SerializeAsString()),
            hex(wire({0x0a, 0x07, '1', '.', '2', '.', '3', '.', '4', 0x12, 0x01, 'u', 0x1a, 0x01, 'd'})));
}

TEST(SuiteMessages, FileStatIsWrittenInNumberOrderAndNeedsDevAndIno) {
  qn::FileStat stat;
  qn::XAttr* attr = stat.add_xattr();
  attr->set_value("v");
  attr->set_name("n");
  stat.set_volume_root("d");
  stat.set_volume_name("c");
  stat.set_uchg(true);
  stat.set_ext_finder_info("b");
  stat.set_finder_info("a");
  stat.set_rsrc_size(9);
  stat.set_ctime(8);
  stat.set_mtime(7);
  stat.set_mode(6);
  stat.set_gid(5);
  stat.set_uid(4);
  stat.set_size(3);
  stat.set_ino(2);
  stat.set_dev(1);
  EXPECT_EQ(hex(stat.SerializeAsString()),
            hex(wire({0x08, 0x01, 0x10, 0x02, 0x18, 0x03, 0x20, 0x04, 0x28, 0x05, 0x30, 0x06, 0x38, 0x07, 0x40, 0x08,
                      0xa0, 0x01, 0x09, 0xaa, 0x01, 0x01, 'a',  0xb2, 0x01, 0x01, 'b',  0xb8, 0x01, 0x01, 0xc2, 0x01,
                      0x01, 'c',  0xca, 0x01, 0x01, 'd',  0xa2, 0x06, 0x06, 0x0a, 0x01, 'n',  0x12, 0x01, 'v'})));
  expect_each_spoil_fails<qn::FileStat>(
      stat, {
                {"dev", [](qn::FileStat& s) { s.clear_dev(); }},
                {"ino", [](qn::FileStat& s) { s.clear_ino(); }},
                {"xattr[0].name", [](qn::FileStat& s) { s.mutable_xattr(0)->clear_name(); }},
                {"xattr[0].value", [](qn::FileStat& s) { s.mutable_xattr(0)->clear_value(); }},
            });
}

// ---------------------------------------------------------------------------
// Lists, the option tree and endpoints

// Elements 1 and 2 of an enum list with `foreign`, no value of its enum.
TEST(SuiteMessages, EnumListsAreWrittenUnpackedAndReadInBothForms) {
  const struct {
    const char* name;
    const Message* prototype;
    unsigned foreign;
  } rows[] = {
      {"ProtocolList", &qn::ProtocolList::default_instance(), 7},
      {"UrlCategoryList", &qn::UrlCategoryList::default_instance(), 18},
      {"VirusTypeList", &qn::VirusTypeList::default_instance(), 9},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string inputs[] = {
        wire({0x0a, 0x03, 0x01, row.foreign, 0x02}),        // packed
        wire({0x08, 0x01, 0x08, row.foreign, 0x08, 0x02}),  // unpacked
        wire({0x0a, 0x02, 0x01, row.foreign, 0x08, 0x02}),  // both
    };
    for (const std::string& input : inputs) {
      SCOPED_TRACE(hex(input));
      std::unique_ptr<Message> list(row.prototype->New());
      ASSERT_TRUE(list->ParseFromString(input));
      const auto* item = list->GetDescriptor()->field(0);
      ASSERT_EQ(list->GetReflection()->FieldSize(*list, item), 2);
      EXPECT_EQ(list->GetReflection()->GetRepeatedEnumValue(*list, item, 0), 1);
      EXPECT_EQ(list->GetReflection()->GetRepeatedEnumValue(*list, item, 1), 2);
      expect_single_unknown_varint(*list, 1, row.foreign);
      // Written back one key per element; the set-aside number follows.
      EXPECT_EQ(hex(list->SerializeAsString()), hex(wire({0x08, 0x01, 0x08, 0x02, 0x08, row.foreign})));
    }
  }
}

// Repeated numbers: one key per element out, packed runs accepted in.
TEST(SuiteMessages, RepeatedNumbersAreWrittenUnpackedAndReadInBothForms) {
  const struct {
    const char* name;
    const Message* prototype;
    std::string required;  // the message's required fields
    int number;
  } rows[] = {
      {"qn.DNSxLReport.record", &qn::DNSxLReport::default_instance(), wire({0x0a, 0x01, 'z', 0x12, 0x01, 'r'}), 3},
      {"qn.ScanReport.packer_type", &qn::ScanReport::default_instance(), wire({0x0a, 0x01, 'a'}), 50},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string unpacked = row.required + key(row.number, 0) + varint(1) + key(row.number, 0) + varint(300);
    const std::string packed = row.required + key(row.number, 2) + varint(3) + varint(1) + varint(300);
    for (const std::string& input : {unpacked, packed}) {
      std::unique_ptr<Message> m(row.prototype->New());
      ASSERT_TRUE(m->ParseFromString(input));
      EXPECT_EQ(hex(m->SerializeAsString()), hex(unpacked));
    }
  }
}

TEST(SuiteMessages, ListsNeedEveryElementAndIPListBothLists) {
  qn::IPList list;
  list.mutable_net_list()->add_network()->set_address("10.0.0.0");
  list.mutable_net_list()->mutable_network(0)->set_mask(8);
  list.mutable_addr_list()->add_ip()->set_address("::1");
  expect_each_spoil_fails<qn::IPList>(
      list,
      {
          {"net_list", [](qn::IPList& l) { l.clear_net_list(); }},
          {"addr_list", [](qn::IPList& l) { l.clear_addr_list(); }},
          {"net_list.network[0].mask", [](qn::IPList& l) { l.mutable_net_list()->mutable_network(0)->clear_mask(); }},
          {"addr_list.ip[0].address", [](qn::IPList& l) { l.mutable_addr_list()->mutable_ip(0)->clear_address(); }},
      });
  // Empty lists are zero bytes, yet present as fields.
  qn::IPList empty;
  empty.mutable_net_list();
  empty.mutable_addr_list();
  EXPECT_EQ(hex(empty.SerializeAsString()), hex(wire({0x0a, 0x00, 0x12, 0x00})));

  qn::VirusList viruses;
  viruses.add_item()->set_type(qn::SE_ADWARE);
  expect_incomplete(viruses, "item[0].name");
  qn::StringPairList pairs;
  pairs.add_item()->set_first("a");
  expect_incomplete(pairs, "item[0].second");
  qn::DNSxLList zones;
  zones.add_item()->set_zone("z");
  zones.mutable_item(0)->set_mask(1);
  expect_incomplete(zones, "item[0].value");
  qn::IPSocketList sockets;
  sockets.add_ip()->set_address("h");
  expect_incomplete(sockets, "ip[0].port");
  qn::ConnectionMatchList matches;
  matches.add_item();
  EXPECT_TRUE(matches.IsInitialized());
  EXPECT_EQ(matches.SerializeAsString(), wire({0x0a, 0x00}));
}

TEST(SuiteMessages, LexOptionHoldsOneMemberOfData) {
  qn::LexOption option;
  option.set_key("k");
  EXPECT_EQ(option.data_case(), qn::LexOption::DATA_NOT_SET);
  option.mutable_value()->add_item("x");
  option.mutable_map()->add_option()->set_key("inner");
  EXPECT_EQ(option.data_case(), qn::LexOption::kMap);
  EXPECT_FALSE(option.has_value());
  EXPECT_EQ(option.value().item_size(), 0);
  option.mutable_value();
  EXPECT_FALSE(option.has_map());
  EXPECT_EQ(option.map().option_size(), 0);
  option.clear_data();
  EXPECT_EQ(hex(option.SerializeAsString()), hex(wire({0x0a, 0x01, 'k'})));

  // The last member on the wire is the one kept.
  ASSERT_TRUE(option.ParseFromString(wire({0x0a, 0x01, 'k', 0x12, 0x03, 0x0a, 0x01, 'x', 0x1a, 0x00})));
  EXPECT_EQ(option.data_case(), qn::LexOption::kMap);
  ASSERT_TRUE(option.ParseFromString(wire({0x0a, 0x01, 'k', 0x1a, 0x00, 0x12, 0x00})));
  EXPECT_EQ(option.data_case(), qn::LexOption::kValue);
}

TEST(SuiteMessages, LexMapKeepsItsOrderAndNeedsEveryKey) {
  qn::LexMap map;
  qn::LexOption* first = map.add_option();
  first->set_key("b");
  first->mutable_value()->add_item("x");
  qn::LexOption* second = map.add_option();
  second->set_key("a");
  second->mutable_map()->add_option()->mutable_value();
  expect_incomplete(map, "option[1].map.option[0].key");
  second->mutable_map()->mutable_option(0)->set_key("");
  EXPECT_EQ(hex(map.SerializeAsString()),
            hex(wire({0x0a, 0x08, 0x0a, 0x01, 'b',  0x12, 0x03, 0x0a, 0x01, 'x',  0x0a, 0x0b,
                      0x0a, 0x01, 'a',  0x1a, 0x06, 0x0a, 0x04, 0x0a, 0x00, 0x12, 0x00})));
}

TEST(SuiteMessages, AnySocketHoldsOneMemberOfType) {
  qn::AnySocket socket;
  EXPECT_TRUE(socket.IsInitialized());
  socket.mutable_ip()->set_address("h");
  expect_incomplete(socket, "ip.port");
  socket.mutable_ip()->set_port(1);
  EXPECT_EQ(hex(socket.SerializeAsString()), hex(wire({0x12, 0x05, 0x0a, 0x01, 'h', 0x10, 0x01})));

  socket.set_local("/s");
  EXPECT_EQ(socket.type_case(), qn::AnySocket::kLocal);
  EXPECT_FALSE(socket.has_ip());
  EXPECT_EQ(socket.ip().address(), "");
  EXPECT_EQ(socket.ip().port(), 0u);
  EXPECT_EQ(hex(socket.SerializeAsString()), hex(wire({0x0a, 0x02, '/', 's'})));
  socket.clear_type();
  EXPECT_EQ(socket.SerializeAsString(), "");

  qn::OptionalIPSocket optional;
  EXPECT_TRUE(optional.IsInitialized());
  optional.mutable_socket()->set_port(1);
  expect_incomplete(optional, "socket.address");
}

// ---------------------------------------------------------------------------
// Scan report

// object "a" > "b" > "c" > "d", the virus in "d".
qn::ScanReport deep_report() {
  qn::ScanReport report;
  report.set_object("a");
  qn::ScanReport* level = &report;
  for (const char* name : {"b", "c", "d"}) {
    level = level->add_item();
    level->set_object(name);
  }
  qn::Virus* virus = level->add_virus();
  virus->set_type(qn::SE_RISKWARE);
  virus->set_name("v");
  return report;
}

TEST(SuiteMessages, ScanReportDefaults) {
  const qn::ScanReport report;
  EXPECT_FALSE(report.has_error());
  EXPECT_EQ(report.error(), qn::SE_PATH_NOT_ABSOLUTE);
  EXPECT_FALSE(report.has_archive());
  EXPECT_EQ(report.archive().type(), qn::SE_ARCHIVE);
  EXPECT_FALSE(report.has_cured());
  EXPECT_FALSE(report.cured() || report.cured_by_deletion() || report.boot());
  EXPECT_EQ(qn::Virus().type(), qn::SE_KNOWN_VIRUS);
  EXPECT_EQ(report.InitializationErrorString(), "object");
}

TEST(SuiteMessages, ScanReportWireFormat) {
  qn::ScanReport report;
  report.set_object("a");
  qn::ScanReport* item = report.add_item();
  item->set_object("b");
  item->set_error(qn::SE_SCAN_TIMEOUT);
  report.mutable_archive()->set_type(qn::SE_MAIL);
  report.mutable_archive()->set_name("m");
  report.set_cured(false);
  report.add_log("l");
  report.set_fork_pid(7);
  EXPECT_EQ(hex(report.SerializeAsString()),
            hex(wire({0x0a, 0x01, 'a',  0x22, 0x05, 0x08, 0x02, 0x12, 0x01, 'm', 0x40, 0x00, 0xa2, 0x01,
                      0x05, 0x0a, 0x01, 'b',  0x38, 0x28, 0xaa, 0x01, 0x01, 'l', 0x80, 0x05, 0x07})));
}

TEST(SuiteMessages, ScanReportNeedsEveryPartDownTheTree) {
  const auto d = [](qn::ScanReport& r) { return r.mutable_item(0)->mutable_item(0)->mutable_item(0); };
  expect_each_spoil_fails<qn::ScanReport>(
      deep_report(),
      {
          {"object", [](qn::ScanReport& r) { r.clear_object(); }},
          {"item[0].item[0].item[0].object", [&](qn::ScanReport& r) { d(r)->clear_object(); }},
          {"item[0].item[0].item[0].virus[0].name", [&](qn::ScanReport& r) { d(r)->mutable_virus(0)->clear_name(); }},
          {"item[0].item[0].item[0].virus[0].type", [&](qn::ScanReport& r) { d(r)->mutable_virus(0)->clear_type(); }},
          {"item[0].archive.name",
           [](qn::ScanReport& r) { r.mutable_item(0)->mutable_archive()->set_type(qn::SE_ARCHIVE); }},
          {"archive.type", [](qn::ScanReport& r) { r.mutable_archive()->set_name("z"); }},
      });
}

TEST(SuiteMessages, ScanReportEnumsOutsideTheirValues) {
  // A virus or archive type outside its enum leaves a required field missing.
  for (unsigned type : {0, 9, 100}) {
    qn::ScanReport report;
    expect_unparsable(report, wire({0x0a, 0x01, 'a', 0x32, 0x05, 0x08, type, 0x12, 0x01, 'v'}), "virus[0].type");
  }
  qn::ScanReport report;
  expect_unparsable(report, wire({0x0a, 0x01, 'a', 0x22, 0x05, 0x08, 0x04, 0x12, 0x01, 'z'}), "archive.type");

  // An error outside the enum is only set aside, and reads as unset.
  for (unsigned error : {0, 11, 45, 49, 99, 101}) {
    SCOPED_TRACE(error);
    ASSERT_TRUE(report.ParseFromString(wire({0x0a, 0x01, 'a', 0x38, error})));
    EXPECT_FALSE(report.has_error());
    expect_single_unknown_varint(report, 7, error);
  }
}

// ---------------------------------------------------------------------------
// Quarantine entries

qn::QEntry full_entry() {
  qn::QEntry entry;
  entry.set_entry_id("e");
  entry.set_restore_path("/r");
  entry.set_creation_time(1);
  entry.mutable_report()->set_object("o");
  entry.mutable_stat()->set_dev(2);
  entry.mutable_stat()->set_ino(3);
  qn::QEntryOperation* op = entry.add_history();
  op->set_action(qn::QENTRY_ACTION_RESCAN);
  op->set_action_time(4);
  op->set_result(qn::EC_OK);
  op->mutable_rescan_report()->set_object("o");
  return entry;
}

TEST(SuiteMessages, QuarantineEntryDefaultsAndRequiredParts) {
  EXPECT_EQ(qn::QEntryOperation().action(), qn::QENTRY_ACTION_DELETE);
  EXPECT_EQ(qn::QEntryOperation().result(), qn::EC_OK);
  EXPECT_EQ(qn::QEntry().origin(), qn::APP_CONFIGD);

  const auto op = [](qn::QEntry& e) { return e.mutable_history(0); };
  expect_each_spoil_fails<qn::QEntry>(
      full_entry(),
      {
          {"entry_id", [](qn::QEntry& e) { e.clear_entry_id(); }},
          {"restore_path", [](qn::QEntry& e) { e.clear_restore_path(); }},
          {"creation_time", [](qn::QEntry& e) { e.clear_creation_time(); }},
          {"report", [](qn::QEntry& e) { e.clear_report(); }},
          {"stat", [](qn::QEntry& e) { e.clear_stat(); }},
          {"report.object", [](qn::QEntry& e) { e.mutable_report()->clear_object(); }},
          {"stat.ino", [](qn::QEntry& e) { e.mutable_stat()->clear_ino(); }},
          {"history[0].action", [&](qn::QEntry& e) { op(e)->clear_action(); }},
          {"history[0].action_time", [&](qn::QEntry& e) { op(e)->clear_action_time(); }},
          {"history[0].result", [&](qn::QEntry& e) { op(e)->clear_result(); }},
          {"history[0].rescan_report.object", [&](qn::QEntry& e) { op(e)->mutable_rescan_report()->clear_object(); }},
      });

  // An origin outside the applications only goes aside.
  qn::QEntry parsed;
  ASSERT_TRUE(parsed.ParseFromString(full_entry().SerializeAsString() + wire({0x58, 0x0b})));
  EXPECT_FALSE(parsed.has_origin());
  expect_single_unknown_varint(parsed, 11, 11);
}

// ---------------------------------------------------------------------------
// Disks and the other small messages

qn::Disk full_disk() {
  qn::Disk disk;
  disk.set_dev_path("/d");
  disk.set_cylinders(1);
  disk.set_heads(2);
  disk.set_sectors(3);
  disk.set_size(4);
  qn::Partition* part = disk.add_partitions();
  part->set_dev_path("/p");
  part->set_offset(5);
  return disk;
}

TEST(SuiteMessages, DiskSectorSizeDefaultsTo512) {
  qn::Disk disk;
  EXPECT_EQ(disk.sector_size(), 512u);
  disk = full_disk();
  disk.set_sector_size(0);
  disk.Clear();
  EXPECT_EQ(disk.sector_size(), 512u);
  EXPECT_FALSE(disk.has_sector_size());

  // Not written while unset; written when set, even to 512.
  const std::string base = wire({0x0a, 0x02, '/',  'd',  0x10, 0x01, 0x18, 0x02, 0x20, 0x03,
                                 0x28, 0x04, 0x42, 0x06, 0x0a, 0x02, '/',  'p',  0x10, 0x05});
  disk = full_disk();
  EXPECT_EQ(hex(disk.SerializeAsString()), hex(base));
  disk.set_sector_size(512);
  EXPECT_EQ(hex(disk.SerializeAsString()), hex(base + wire({0x48, 0x80, 0x04})));
  ASSERT_TRUE(disk.ParseFromString(base + wire({0x48, 0x00})));
  EXPECT_EQ(disk.sector_size(), 0u);
}

TEST(SuiteMessages, DiskNeedsItsRequiredFieldsAndThoseOfEveryPartition) {
  expect_each_spoil_fails<qn::Disk>(
      full_disk(), {
                       {"dev_path", [](qn::Disk& d) { d.clear_dev_path(); }},
                       {"cylinders", [](qn::Disk& d) { d.clear_cylinders(); }},
                       {"heads", [](qn::Disk& d) { d.clear_heads(); }},
                       {"sectors", [](qn::Disk& d) { d.clear_sectors(); }},
                       {"size", [](qn::Disk& d) { d.clear_size(); }},
                       {"partitions[0].dev_path", [](qn::Disk& d) { d.mutable_partitions(0)->clear_dev_path(); }},
                       {"partitions[0].offset", [](qn::Disk& d) { d.mutable_partitions(0)->clear_offset(); }},
                   });
}

TEST(SuiteMessages, SmallMessagesWireFormat) {
  qn::DNSxL zone;
  zone.set_zone("z");
  zone.set_mask(1);
  zone.set_value(2);
  EXPECT_EQ(hex(zone.SerializeAsString()), hex(wire({0x0a, 0x01, 'z', 0x10, 0x01, 0x18, 0x02})));
  qn::ConnectionMatch match;
  EXPECT_TRUE(match.IsInitialized());
  match.set_port(80);
  match.set_exe_path("/e");
  EXPECT_EQ(hex(match.SerializeAsString()), hex(wire({0x0a, 0x02, '/', 'e', 0x18, 0x50})));
  qn::IPSocketAnyPort any_port;
  any_port.set_address("h");
  any_port.set_port(0);
  EXPECT_EQ(hex(any_port.SerializeAsString()), hex(wire({0x0a, 0x01, 'h', 0x10, 0x00})));
  qn::AppExeInfo exe;
  EXPECT_TRUE(exe.IsInitialized());
  exe.set_exe_owner("o");
  exe.set_version("1");
  EXPECT_EQ(hex(exe.SerializeAsString()), hex(wire({0x0a, 0x01, '1', 0x32, 0x01, 'o'})));
}

}  // namespace
