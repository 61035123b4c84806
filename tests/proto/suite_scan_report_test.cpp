// The recursive scan report as the file checker and the threat database
// hand it over.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstring>
#include <string>

#include "scan_report.pb.h"

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

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

TEST(SuiteScanReport, ImplicitAndDeclaredDefaults) {
  qn::ScanReport report;
  EXPECT_FALSE(report.has_error());
  EXPECT_EQ(report.error(), qn::SE_PATH_NOT_ABSOLUTE);
  EXPECT_FALSE(report.has_archive());
  EXPECT_EQ(report.archive().type(), qn::SE_ARCHIVE);
  EXPECT_FALSE(report.cured());
  EXPECT_FALSE(report.cured_by_deletion());
  EXPECT_FALSE(report.boot());
  EXPECT_FALSE(report.has_cured());
  EXPECT_EQ(qn::Virus().type(), qn::SE_KNOWN_VIRUS);
  EXPECT_FALSE(report.IsInitialized());
  report.set_object("");
  EXPECT_TRUE(report.IsInitialized());
}

TEST(SuiteScanReport, TreeRoundTrip) {
  const qn::ScanReport report = deep_report();
  ASSERT_TRUE(report.IsInitialized());
  qn::ScanReport back;
  ASSERT_TRUE(back.ParseFromString(report.SerializeAsString()));
  const qn::ScanReport& d = back.item(0).item(0).item(0);
  EXPECT_EQ(d.object(), "d");
  ASSERT_EQ(d.virus_size(), 1);
  EXPECT_EQ(d.virus(0).type(), qn::SE_RISKWARE);
  EXPECT_EQ(d.virus(0).name(), "v");
}

TEST(SuiteScanReport, NestedWireFormat) {
  qn::ScanReport report;
  report.set_object("a");
  qn::ScanReport* item = report.add_item();
  item->set_object("b");
  item->set_error(qn::SE_SCAN_TIMEOUT);
  qn::Archive* archive = report.mutable_archive();
  archive->set_type(qn::SE_MAIL);
  archive->set_name("m");
  report.set_cured(false);
  EXPECT_EQ(report.SerializeAsString(),
            bytes({0x0a, 0x01, 'a', 0x22, 0x05, 0x08, 0x02, 0x12, 0x01, 'm', 0x40, 0x00,
                   0xa2, 0x01, 0x05, 0x0a, 0x01, 'b', 0x38, 0x28}));
}

TEST(SuiteScanReport, MissingObjectAtAnyDepthFailsTheWholeReport) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  for (int depth = 0; depth <= 3; ++depth) {
    SCOPED_TRACE(depth);
    qn::ScanReport report = deep_report();
    qn::ScanReport* level = &report;
    for (int i = 0; i < depth; ++i) level = level->mutable_item(0);
    level->clear_object();
    EXPECT_FALSE(report.IsInitialized());
    qn::ScanReport parsed;
    EXPECT_FALSE(parsed.ParseFromString(report.SerializePartialAsString()));
  }
}

TEST(SuiteScanReport, IncompleteVirusOrArchiveFailsTheReport) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  const struct {
    const char* what;
    void (*spoil)(qn::ScanReport*);
  } rows[] = {
      {"virus without name", [](qn::ScanReport* r) { r->mutable_item(0)->mutable_item(0)->mutable_item(0)->mutable_virus(0)->clear_name(); }},
      {"virus without type", [](qn::ScanReport* r) { r->mutable_item(0)->mutable_item(0)->mutable_item(0)->mutable_virus(0)->clear_type(); }},
      {"archive without name", [](qn::ScanReport* r) { r->mutable_item(0)->mutable_archive()->set_type(qn::SE_ARCHIVE); }},
      {"archive without type", [](qn::ScanReport* r) { r->mutable_archive()->set_name("z"); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::ScanReport report = deep_report();
    row.spoil(&report);
    EXPECT_FALSE(report.IsInitialized());
    qn::ScanReport parsed;
    EXPECT_FALSE(parsed.ParseFromString(report.SerializePartialAsString()));
  }
}

TEST(SuiteScanReport, UnknownVirusTypeLeavesTheVirusIncomplete) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  for (int number : {0, 9, 100}) {
    SCOPED_TRACE(number);
    // object "a", virus {type number, name "v"}
    const std::string wire = bytes({0x0a, 0x01, 'a', 0x32, 0x05, 0x08, number, 0x12, 0x01, 'v'});
    qn::ScanReport report;
    EXPECT_FALSE(report.ParseFromString(wire));
    ASSERT_TRUE(report.ParsePartialFromString(wire));
    ASSERT_EQ(report.virus_size(), 1);
    EXPECT_FALSE(report.virus(0).has_type());
    EXPECT_EQ(report.virus(0).unknown_fields().field_count(), 1);
  }
}

TEST(SuiteScanReport, UnknownArchiveTypeLeavesTheArchiveIncomplete) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::ScanReport report;
  EXPECT_FALSE(report.ParseFromString(bytes({0x0a, 0x01, 'a', 0x22, 0x05, 0x08, 0x04, 0x12, 0x01, 'z'})));
  EXPECT_TRUE(report.ParseFromString(bytes({0x0a, 0x01, 'a', 0x22, 0x05, 0x08, 0x03, 0x12, 0x01, 'z'})));
  EXPECT_EQ(report.archive().type(), qn::SE_CONTAINER);
}

TEST(SuiteScanReport, UnknownScanErrorIsSetAsideAndReadsAsUnset) {
  for (int number : {0, 11, 45, 49, 99, 101}) {
    SCOPED_TRACE(number);
    qn::ScanReport report;
    ASSERT_TRUE(report.ParseFromString(bytes({0x0a, 0x01, 'a', 0x38, number})));
    EXPECT_FALSE(report.has_error());
    EXPECT_EQ(report.error(), qn::SE_PATH_NOT_ABSOLUTE);
    ASSERT_EQ(report.unknown_fields().field_count(), 1);
    EXPECT_EQ(report.unknown_fields().field(0).number(), 7);
  }
  qn::ScanReport report;
  ASSERT_TRUE(report.ParseFromString(bytes({0x0a, 0x01, 'a', 0x38, 100})));
  EXPECT_EQ(report.error(), qn::SE_UNEXPECTED_ERROR);
}

TEST(SuiteScanReport, PackerTypesAreUnpacked) {
  qn::ScanReport report;
  report.set_object("a");
  report.add_packer_type(1);
  report.add_packer_type(300);
  const std::string unpacked = bytes({0x0a, 0x01, 'a', 0x90, 0x03, 0x01, 0x90, 0x03, 0xac, 0x02});
  EXPECT_EQ(report.SerializeAsString(), unpacked);

  qn::ScanReport packed;
  ASSERT_TRUE(packed.ParseFromString(bytes({0x0a, 0x01, 'a', 0x92, 0x03, 0x03, 0x01, 0xac, 0x02})));
  ASSERT_EQ(packed.packer_type_size(), 2);
  EXPECT_EQ(packed.packer_type(1), 300u);
  EXPECT_EQ(packed.SerializeAsString(), unpacked);
}

TEST(SuiteScanReport, TimingsAndEngineFieldsWireFormat) {
  qn::ScanReport report;
  report.set_object("a");
  report.set_user_time(1.5);
  report.set_fork_pid(7);
  report.set_base_stamp(1);
  report.add_log("l");
  const double value = 1.5;
  char raw[8];
  std::memcpy(raw, &value, sizeof raw);  // little-endian on every supported host
  EXPECT_EQ(report.SerializeAsString(), bytes({0x0a, 0x01, 'a', 0xaa, 0x01, 0x01, 'l', 0xb1, 0x01}) +
                                            std::string(raw, 8) + bytes({0xc8, 0x04, 0x01, 0x80, 0x05, 0x07}));
}

}  // namespace
