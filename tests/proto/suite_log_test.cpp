// Log settings as they arrive inside the daemon's settings.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstdint>
#include <string>

#include "log.pb.h"

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

TEST(SuiteLog, DefaultIsSyslogWithFacilityDaemonNeitherSet) {
  qn::Log log;
  EXPECT_EQ(log.type(), qn::Log::SYSLOG);
  EXPECT_EQ(log.facility(), qn::Log::DAEMON);
  EXPECT_FALSE(log.has_type());
  EXPECT_FALSE(log.has_facility());
  EXPECT_EQ(log.ident(), "");
  EXPECT_FALSE(log.show_timestamp());
  EXPECT_FALSE(log.IsInitialized());
  log.set_type(qn::Log::STDERR);
  EXPECT_TRUE(log.IsInitialized());
}

TEST(SuiteLog, WireFormat) {
  qn::Log log;
  log.set_show_timestamp(true);
  log.set_path("/x");
  log.set_ident("i");
  log.set_facility(qn::Log::LOCAL7);
  log.set_type(qn::Log::FILE);
  EXPECT_EQ(log.SerializeAsString(),
            bytes({0x08, 0x02, 0x10, 0x11, 0x1a, 0x01, 'i', 0x52, 0x02, '/', 'x', 0xa0, 0x01, 0x01}));
}

TEST(SuiteLog, UnknownFacilityStaysAmongTheUnknownFields) {
  for (int number = 4; number <= 9; ++number) {
    SCOPED_TRACE(number);
    const std::string wire = bytes({0x08, 0x01, 0x10, number});
    qn::Log log;
    ASSERT_TRUE(log.ParseFromString(wire));
    EXPECT_FALSE(log.has_facility());
    EXPECT_EQ(log.facility(), qn::Log::DAEMON);
    ASSERT_EQ(log.unknown_fields().field_count(), 1);
    EXPECT_EQ(log.unknown_fields().field(0).number(), 2);
    EXPECT_EQ(log.unknown_fields().field(0).varint(), static_cast<uint64_t>(number));
  }
  for (int number : {1, 2, 3, 10, 17}) {
    qn::Log log;
    ASSERT_TRUE(log.ParseFromString(bytes({0x08, 0x01, 0x10, number})));
    EXPECT_TRUE(log.has_facility()) << number;
    EXPECT_EQ(static_cast<int>(log.facility()), number);
  }
}

TEST(SuiteLog, UnknownTypeLeavesTheMessageWithoutItsRequiredField) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  for (int number : {0, 5, 127}) {
    SCOPED_TRACE(number);
    qn::Log log;
    EXPECT_FALSE(log.ParseFromString(bytes({0x08, number})));
    ASSERT_TRUE(log.ParsePartialFromString(bytes({0x08, number})));
    EXPECT_FALSE(log.has_type());
  }
  qn::Log log;
  ASSERT_TRUE(log.ParseFromString(bytes({0x08, 0x04})));
  EXPECT_EQ(log.type(), qn::Log::AUTO);
}

TEST(SuiteLog, LevelsCountFromOne) {
  EXPECT_EQ(qn::LOG_LEVEL_DEBUG, 1);
  EXPECT_EQ(qn::LOG_LEVEL_ERROR, 5);
  EXPECT_FALSE(qn::LogLevel_IsValid(0));
  EXPECT_FALSE(qn::LogLevel_IsValid(6));
}

}  // namespace
