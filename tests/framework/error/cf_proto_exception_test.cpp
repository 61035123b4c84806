#include "framework/error/cf_proto_exception.h"

#include <gtest/gtest.h>

#include "framework/error/cf_proto_error_impl.h"

namespace {

TEST(cf_proto_exception, from_error_message_text_or_code_text) {
  struct row_t {
    qn::ErrorCode code;
    char const* what;  // null: not set
    char const* text;
  };
  for (row_t const& row : {row_t{qn::EC_NOT_READY, "engine loading", "engine loading"}, row_t{qn::EC_NOT_READY, "", ""},
                           row_t{qn::EC_DATA_CORRUPTED, nullptr, "Data file corrupted"}}) {
    qn::Error error;
    error.set_code(row.code);
    if (row.what) error.set_what(row.what);
    cf_proto_exception_t const e(error);
    EXPECT_EQ(row.code, e.code());
    EXPECT_STREQ(row.text, e.what());
  }
}

}  // namespace
