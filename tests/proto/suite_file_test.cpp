// Remote user and file status.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <string>

#include "file.pb.h"
#include "remote_user.pb.h"

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

TEST(SuiteRemoteUser, EmptyUserIsZeroBytesAndInitialised) {
  qn::RemoteUser user;
  EXPECT_TRUE(user.IsInitialized());
  EXPECT_EQ(user.SerializeAsString(), "");
  EXPECT_EQ(user.ByteSizeLong(), 0u);
  qn::RemoteUser parsed;
  ASSERT_TRUE(parsed.ParseFromString(""));
  EXPECT_FALSE(parsed.has_ip());
}

TEST(SuiteRemoteUser, WireFormat) {
  qn::RemoteUser user;
  user.set_domain("d");
  user.set_user("u");
  user.set_ip("1.2.3.4");
  EXPECT_EQ(user.SerializeAsString(),
            bytes({0x0a, 0x07, '1', '.', '2', '.', '3', '.', '4', 0x12, 0x01, 'u', 0x1a, 0x01, 'd'}));

  // An empty but present text is written and read back as present.
  qn::RemoteUser only_user;
  only_user.set_user("");
  EXPECT_EQ(only_user.SerializeAsString(), bytes({0x12, 0x00}));
  qn::RemoteUser back;
  ASSERT_TRUE(back.ParseFromString(only_user.SerializeAsString()));
  EXPECT_TRUE(back.has_user());
  EXPECT_FALSE(back.has_domain());
}

qn::FileStat full_stat() {
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
  return stat;
}

TEST(SuiteFileStat, FieldsAreWrittenInNumberOrder) {
  EXPECT_EQ(full_stat().SerializeAsString(),
            bytes({0x08, 0x01, 0x10, 0x02, 0x18, 0x03, 0x20, 0x04, 0x28, 0x05, 0x30, 0x06, 0x38, 0x07, 0x40, 0x08,
                   0xa0, 0x01, 0x09, 0xaa, 0x01, 0x01, 'a', 0xb2, 0x01, 0x01, 'b', 0xb8, 0x01, 0x01, 0xc2, 0x01,
                   0x01, 'c', 0xca, 0x01, 0x01, 'd', 0xa2, 0x06, 0x06, 0x0a, 0x01, 'n', 0x12, 0x01, 'v'}));
}

TEST(SuiteFileStat, LargeDeviceAndInodeNumbersSurvive) {
  qn::FileStat stat;
  stat.set_dev(UINT64_MAX);
  stat.set_ino(UINT64_C(0x8000000000000001));
  qn::FileStat back;
  ASSERT_TRUE(back.ParseFromString(stat.SerializeAsString()));
  EXPECT_EQ(back.dev(), UINT64_MAX);
  EXPECT_EQ(back.ino(), UINT64_C(0x8000000000000001));
}

TEST(SuiteFileStat, RequiredFields) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  const struct {
    const char* what;
    void (*spoil)(qn::FileStat*);
  } rows[] = {
      {"no dev", [](qn::FileStat* s) { s->clear_dev(); }},
      {"no ino", [](qn::FileStat* s) { s->clear_ino(); }},
      {"xattr without name", [](qn::FileStat* s) { s->mutable_xattr(0)->clear_name(); }},
      {"xattr without value", [](qn::FileStat* s) { s->mutable_xattr(0)->clear_value(); }},
  };
  ASSERT_TRUE(full_stat().IsInitialized());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::FileStat stat = full_stat();
    row.spoil(&stat);
    EXPECT_FALSE(stat.IsInitialized());
    qn::FileStat parsed;
    EXPECT_FALSE(parsed.ParseFromString(stat.SerializePartialAsString()));
  }
  qn::FileStat minimal;
  minimal.set_dev(0);
  minimal.set_ino(0);
  EXPECT_TRUE(minimal.IsInitialized());
  EXPECT_EQ(minimal.SerializeAsString(), bytes({0x08, 0x00, 0x10, 0x00}));
}

}  // namespace
