// Disks, DNS list zones and connection-matching entries.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <string>

#include "connection_match.pb.h"
#include "disk.pb.h"
#include "dnsxl.pb.h"

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

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

TEST(SuiteDisk, SectorSizeDefaultsTo512) {
  qn::Disk disk;
  EXPECT_EQ(disk.sector_size(), 512u);
  EXPECT_FALSE(disk.has_sector_size());

  disk = full_disk();
  disk.set_sector_size(4096);
  EXPECT_EQ(disk.sector_size(), 4096u);
  disk.clear_sector_size();
  EXPECT_EQ(disk.sector_size(), 512u);
  EXPECT_FALSE(disk.has_sector_size());

  disk.set_sector_size(0);
  disk.Clear();
  EXPECT_EQ(disk.sector_size(), 512u);
  EXPECT_FALSE(disk.has_sector_size());
}

TEST(SuiteDisk, UnsetSectorSizeIsNotWrittenButAnExplicitOneIs) {
  const std::string base = bytes({0x0a, 0x02, '/', 'd', 0x10, 0x01, 0x18, 0x02, 0x20, 0x03, 0x28, 0x04, 0x42, 0x06,
                                  0x0a, 0x02, '/', 'p', 0x10, 0x05});
  qn::Disk disk = full_disk();
  EXPECT_EQ(disk.SerializeAsString(), base);
  disk.set_sector_size(512);
  EXPECT_EQ(disk.SerializeAsString(), base + bytes({0x48, 0x80, 0x04}));

  qn::Disk parsed;
  ASSERT_TRUE(parsed.ParseFromString(base));
  EXPECT_FALSE(parsed.has_sector_size());
  EXPECT_EQ(parsed.sector_size(), 512u);
  ASSERT_TRUE(parsed.ParseFromString(base + bytes({0x48, 0x00})));
  EXPECT_TRUE(parsed.has_sector_size());
  EXPECT_EQ(parsed.sector_size(), 0u);
}

TEST(SuiteDisk, RequiredFields) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  const struct {
    const char* what;
    void (*spoil)(qn::Disk*);
  } rows[] = {
      {"no dev_path", [](qn::Disk* d) { d->clear_dev_path(); }},
      {"no cylinders", [](qn::Disk* d) { d->clear_cylinders(); }},
      {"no heads", [](qn::Disk* d) { d->clear_heads(); }},
      {"no sectors", [](qn::Disk* d) { d->clear_sectors(); }},
      {"no size", [](qn::Disk* d) { d->clear_size(); }},
      {"partition without dev_path", [](qn::Disk* d) { d->mutable_partitions(0)->clear_dev_path(); }},
      {"partition without offset", [](qn::Disk* d) { d->mutable_partitions(0)->clear_offset(); }},
  };
  ASSERT_TRUE(full_disk().IsInitialized());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::Disk disk = full_disk();
    row.spoil(&disk);
    EXPECT_FALSE(disk.IsInitialized());
    qn::Disk parsed;
    EXPECT_FALSE(parsed.ParseFromString(disk.SerializePartialAsString()));
  }
}

TEST(SuiteDnsxl, ReportRecordsAreUnpacked) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::DNSxLReport report;
  report.set_zone("z");
  report.set_resource("r");
  report.add_record(1);
  report.add_record(300);
  const std::string unpacked = bytes({0x0a, 0x01, 'z', 0x12, 0x01, 'r', 0x18, 0x01, 0x18, 0xac, 0x02});
  EXPECT_EQ(report.SerializeAsString(), unpacked);

  // A packed writer is understood as well.
  qn::DNSxLReport parsed;
  ASSERT_TRUE(parsed.ParseFromString(bytes({0x0a, 0x01, 'z', 0x12, 0x01, 'r', 0x1a, 0x03, 0x01, 0xac, 0x02})));
  ASSERT_EQ(parsed.record_size(), 2);
  EXPECT_EQ(parsed.record(0), 1u);
  EXPECT_EQ(parsed.record(1), 300u);
  EXPECT_EQ(parsed.SerializeAsString(), unpacked);

  EXPECT_FALSE(parsed.ParseFromString(bytes({0x0a, 0x01, 'z'})));
}

TEST(SuiteDnsxl, ZoneNeedsAllThreeFields) {
  qn::DNSxL zone;
  zone.set_zone("z");
  zone.set_mask(1);
  EXPECT_FALSE(zone.IsInitialized());
  zone.set_value(2);
  EXPECT_TRUE(zone.IsInitialized());
  EXPECT_EQ(zone.SerializeAsString(), bytes({0x0a, 0x01, 'z', 0x10, 0x01, 0x18, 0x02}));
}

TEST(SuiteConnectionMatch, EveryPartIsOptional) {
  qn::ConnectionMatch match;
  EXPECT_TRUE(match.IsInitialized());
  EXPECT_EQ(match.SerializeAsString(), "");
  match.set_port(80);
  match.set_exe_path("/e");
  EXPECT_EQ(match.SerializeAsString(), bytes({0x0a, 0x02, '/', 'e', 0x18, 0x50}));
}

}  // namespace
