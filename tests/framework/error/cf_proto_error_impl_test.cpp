#include "framework/error/cf_proto_error_impl.h"

#include <gtest/gtest.h>

namespace {

TEST(cf_proto_category, name_and_messages) {
  boost::system::error_category const& category = qn::cf_proto_category();
  EXPECT_STREQ("qn.Error", category.name());
  struct row_t {
    int value;
    char const* message;
  };
  for (row_t const& row :
       {row_t{0, "Success"}, row_t{1, "Error on monitor channel"}, row_t{88, "Process suspended by the administrator"},
        row_t{102, "Invalid configuration"}, row_t{125, "Unexpected error"}, row_t{9999, "qn.Error 9999"},
        row_t{-3, "qn.Error -3"}, row_t{14, "qn.Error 14"}})
    EXPECT_EQ(row.message, category.message(row.value)) << row.value;
  char buffer[64];
  EXPECT_STREQ("Protocol violation", category.message(12, buffer, sizeof buffer));
}

TEST(cf_proto_category, codes_and_conditions_of_the_enum) {
  boost::system::error_code const code = qn::EC_BAD_CONFIG;
  EXPECT_EQ(&qn::cf_proto_category(), &code.category());
  EXPECT_EQ(102, code.value());
  // A code of this category is no system error of the same number.
  EXPECT_NE(qn::make_error_code(2), boost::system::error_code(2, boost::system::system_category()));
  EXPECT_EQ(&qn::cf_proto_category(), &qn::make_error_condition(qn::EC_NO_MEMORY).category());
}

}  // namespace
