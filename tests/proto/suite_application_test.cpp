// The application envelopes and the sibling application info that extends
// them.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstdint>
#include <string>

#include "application.pb.h"
#include "error.pb.h"
#include "se_appinfo.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

std::string varint(uint64_t v) {
  std::string out;
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
  return out;
}

std::string key(int number, int wire_type) { return varint((static_cast<uint64_t>(number) << 3) | wire_type); }

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

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

TEST(SuiteEnvelope, DefaultApplicationIsTheFirstValue) {
  EXPECT_EQ(qn::AppInfo().app(), qn::APP_CONFIGD);
  EXPECT_EQ(qn::AppStat().app(), qn::APP_CONFIGD);
  EXPECT_EQ(qn::AppConfig().app(), qn::APP_CONFIGD);
  EXPECT_EQ(qn::ComponentControl().app(), qn::APP_CONFIGD);
  EXPECT_EQ(static_cast<int>(qn::ComponentControl().app()), 1);
  EXPECT_EQ(qn::AppInfo().exit_code(), qn::EC_OK);
  EXPECT_FALSE(qn::AppInfo().has_app());
}

TEST(SuiteEnvelope, RequiredFields) {
  qn::AppInfo info;
  info.set_app(qn::APP_SMB_GARDIX);
  EXPECT_FALSE(info.IsInitialized());
  info.set_pid(7);
  EXPECT_TRUE(info.IsInitialized());

  qn::AppStat stat;
  stat.set_pid(7);
  EXPECT_FALSE(stat.IsInitialized());
  stat.set_app(qn::APP_SMB_GARDIX);
  EXPECT_TRUE(stat.IsInitialized());

  qn::AppConfig config;
  EXPECT_FALSE(config.IsInitialized());
  config.set_app(qn::APP_SMB_GARDIX);
  EXPECT_TRUE(config.IsInitialized());

  qn::ComponentControl control;
  control.set_app(qn::APP_SMB_GARDIX);
  EXPECT_FALSE(control.IsInitialized());
  control.set_suspended(false);
  EXPECT_TRUE(control.IsInitialized());
}

TEST(SuiteEnvelope, ComponentControlWireFormat) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::ComponentControl control;
  control.set_app(qn::APP_SMB_GARDIX);
  control.set_suspended(true);
  EXPECT_EQ(control.SerializeAsString(), bytes({0x08, 0x28, 0x10, 0x01}));

  qn::ComponentControl parsed;
  EXPECT_FALSE(parsed.ParseFromString(bytes({0x08, 0x28})));  // no suspended
  EXPECT_FALSE(parsed.ParseFromString(bytes({0x08, 0x0b, 0x10, 0x01})));  // 11 is no application
  ASSERT_TRUE(parsed.ParseFromString(bytes({0x10, 0x00, 0x08, 0x28})));
  EXPECT_EQ(parsed.app(), qn::APP_SMB_GARDIX);
  EXPECT_FALSE(parsed.suspended());
}

TEST(SuiteEnvelope, AppInfoWireFormatWithExtension) {
  qn::AppInfo info;
  info.set_app(qn::APP_SCAN_ENGINE);
  info.set_pid(1);
  info.MutableExtension(qn::se_info)->set_core_fingerprint("A");
  // The extension (2) comes before the envelope's own fields (1000, 1001).
  EXPECT_EQ(info.SerializeAsString(), bytes({0x12, 0x03, 0x2a, 0x01, 'A', 0xc0, 0x3e, 0x02, 0xc8, 0x3e, 0x01}));

  qn::AppInfo back;
  ASSERT_TRUE(back.ParseFromString(info.SerializeAsString()));
  ASSERT_TRUE(back.HasExtension(qn::se_info));
  EXPECT_FALSE(back.HasExtension(qn::vornd_info));
  EXPECT_EQ(back.GetExtension(qn::se_info).core_fingerprint(), "A");
  EXPECT_EQ(back.unknown_fields().field_count(), 0);
}

TEST(SuiteEnvelope, VornDInfoTravelsAsExtension52) {
  const std::string wire = key(52, 2) + varint(5) + key(1, 2) + varint(3) + key(5, 2) + varint(1) + "B" +
                           key(1000, 0) + varint(52) + key(1001, 0) + varint(9);
  qn::AppInfo info;
  ASSERT_TRUE(info.ParseFromString(wire));
  EXPECT_EQ(info.app(), qn::APP_VORND);
  EXPECT_EQ(info.pid(), 9);
  ASSERT_TRUE(info.HasExtension(qn::vornd_info));
  ASSERT_TRUE(info.GetExtension(qn::vornd_info).has_se_adaptor_info());
  EXPECT_EQ(info.GetExtension(qn::vornd_info).se_adaptor_info().core_fingerprint(), "B");
  EXPECT_EQ(info.SerializeAsString(), wire);
}

TEST(SuiteEnvelope, UnknownApplicationLeavesTheRequiredFieldMissing) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  for (int number : {0, 11, 39, 51, 101, 204, 501}) {
    SCOPED_TRACE(number);
    const std::string wire = key(1000, 0) + varint(number) + key(1001, 0) + varint(1);
    qn::AppInfo info;
    EXPECT_FALSE(info.ParseFromString(wire));
    ASSERT_TRUE(info.ParsePartialFromString(wire));
    EXPECT_FALSE(info.has_app());
    EXPECT_EQ(info.app(), qn::APP_CONFIGD);
    ASSERT_EQ(info.unknown_fields().field_count(), 1);
    EXPECT_EQ(info.unknown_fields().field(0).number(), 1000);
    EXPECT_EQ(info.unknown_fields().field(0).varint(), static_cast<uint64_t>(number));

    qn::AppStat stat;
    EXPECT_FALSE(stat.ParseFromString(wire));
    qn::AppConfig config;
    EXPECT_FALSE(config.ParseFromString(key(1000, 0) + varint(number)));
  }
  // Every valid number parses.
  for (int number : {1, 4, 10, 20, 21, 41, 46, 50, 60, 99, 100, 102, 104, 200, 203, 205, 206, 300, 400, 500}) {
    qn::AppConfig config;
    EXPECT_TRUE(config.ParseFromString(key(1000, 0) + varint(number))) << number;
    EXPECT_EQ(static_cast<int>(config.app()), number);
  }
}

TEST(SuiteEnvelope, UnknownExitCodeIsKeptAsideWithoutFailing) {
  const std::string wire = key(1000, 0) + varint(40) + key(1001, 0) + varint(1) + key(1103, 0) + varint(14);
  qn::AppInfo info;
  ASSERT_TRUE(info.ParseFromString(wire));
  EXPECT_FALSE(info.has_exit_code());
  EXPECT_EQ(info.exit_code(), qn::EC_OK);
  ASSERT_EQ(info.unknown_fields().field_count(), 1);
  EXPECT_EQ(info.unknown_fields().field(0).number(), 1103);
}

TEST(SuiteEnvelope, EnvelopeIsInitialisedOnlyWithInitialisedExtensions) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::AppInfo info;
  info.set_app(qn::APP_SCAN_ENGINE);
  info.set_pid(1);
  qn::SEVirusBase* base = info.MutableExtension(qn::se_info)->add_virus_base();
  *base = full_base();
  EXPECT_TRUE(info.IsInitialized());

  const struct {
    const char* field;
    void (*clear)(qn::SEVirusBase*);
  } rows[] = {
      {"path", [](qn::SEVirusBase* b) { b->clear_path(); }},
      {"virus_records", [](qn::SEVirusBase* b) { b->clear_virus_records(); }},
      {"version", [](qn::SEVirusBase* b) { b->clear_version(); }},
      {"timestamp", [](qn::SEVirusBase* b) { b->clear_timestamp(); }},
      {"md5", [](qn::SEVirusBase* b) { b->clear_md5(); }},
      {"load_result", [](qn::SEVirusBase* b) { b->clear_load_result(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.field);
    qn::AppInfo broken = info;
    row.clear(broken.MutableExtension(qn::se_info)->mutable_virus_base(0));
    EXPECT_FALSE(broken.IsInitialized());
    qn::AppInfo parsed;
    EXPECT_FALSE(parsed.ParseFromString(broken.SerializePartialAsString()));
  }

  // Optional fields of a base may be left out.
  base->clear_order();
  base->clear_type();
  base->clear_sha1();
  EXPECT_TRUE(info.IsInitialized());
}

TEST(SuiteEnvelope, VornDInfoNeedsAnInitialisedEngineInfo) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::AppInfo info;
  info.set_app(qn::APP_VORND);
  info.set_pid(1);
  info.MutableExtension(qn::vornd_info)->set_engine_es_id("e");
  EXPECT_TRUE(info.IsInitialized());
  info.MutableExtension(qn::vornd_info)->mutable_se_adaptor_info()->add_virus_base()->set_path("/b");
  EXPECT_FALSE(info.IsInitialized());
  qn::AppInfo parsed;
  EXPECT_FALSE(parsed.ParseFromString(info.SerializePartialAsString()));
}

TEST(SuiteEnvelope, UnknownLoadResultFailsTheVirusBase) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::SEVirusBase base = full_base();
  std::string wire = base.SerializeAsString();
  ASSERT_EQ(wire.substr(wire.size() - 2), bytes({0x30, 0x00}));
  wire[wire.size() - 1] = 14;  // a gap among the error codes
  qn::SEVirusBase parsed;
  EXPECT_FALSE(parsed.ParseFromString(wire));
  wire[wire.size() - 1] = 0x66;  // EC_BAD_CONFIG
  ASSERT_TRUE(parsed.ParseFromString(wire));
  EXPECT_EQ(parsed.load_result(), qn::EC_BAD_CONFIG);
}

TEST(SuiteEnvelope, ExeInfoWireFormat) {
  qn::AppExeInfo exe;
  exe.set_exe_owner("o");
  exe.set_exe_md5("m");
  exe.set_exe_size(4);
  exe.set_modification_time(3);
  exe.set_install_time(2);
  exe.set_version("1");
  EXPECT_EQ(exe.SerializeAsString(),
            bytes({0x0a, 0x01, '1', 0x10, 0x02, 0x18, 0x03, 0x20, 0x04, 0x2a, 0x01, 'm', 0x32, 0x01, 'o'}));
  EXPECT_TRUE(qn::AppExeInfo().IsInitialized());
}

}  // namespace
