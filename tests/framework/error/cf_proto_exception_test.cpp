#include "framework/error/cf_proto_exception.h"

#include <gtest/gtest.h>

#include "framework/error/cf_exception.h"
#include "framework/error/cf_proto_error_impl.h"

namespace {

TEST(cf_proto_exception, from_code_and_text) {
  cf_proto_exception_t const e(qn::EC_PROTOCOL_VIOLATION, "bad tag");
  EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, e.code());
  EXPECT_STREQ("bad tag", e.what());
}

TEST(cf_proto_exception, from_error_message) {
  qn::Error with_text;
  with_text.set_code(qn::EC_NOT_READY);
  with_text.set_what("engine loading");
  cf_proto_exception_t const a(with_text);
  EXPECT_EQ(qn::EC_NOT_READY, a.code());
  EXPECT_STREQ("engine loading", a.what());

  qn::Error empty_text;
  empty_text.set_code(qn::EC_NOT_READY);
  empty_text.set_what("");
  EXPECT_STREQ("", cf_proto_exception_t(empty_text).what());

  qn::Error without_text;
  without_text.set_code(qn::EC_DATA_CORRUPTED);
  cf_proto_exception_t const b(without_text);
  EXPECT_EQ(qn::EC_DATA_CORRUPTED, b.code());
  EXPECT_STREQ("Data file corrupted", b.what());
}

TEST(cf_exception, keeps_code_and_text) {
  boost::system::error_code const code(EACCES, boost::system::system_category());
  cf_exception_t const e(code, "no entry");
  EXPECT_EQ(code, e.code());
  EXPECT_STREQ("no entry", e.what());
}

}  // namespace
