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
        row_t{102, "Invalid configuration"}, row_t{107, "Process terminated by signal"}, row_t{125, "Unexpected error"},
        row_t{9999, "qn.Error 9999"}, row_t{-3, "qn.Error -3"}, row_t{14, "qn.Error 14"}, row_t{126, "qn.Error 126"}})
    EXPECT_EQ(row.message, category.message(row.value)) << row.value;
}

TEST(cf_proto_category, one_instance) { EXPECT_EQ(&qn::cf_proto_category(), &qn::cf_proto_category()); }

TEST(cf_proto_category, error_code_values_convert_implicitly) {
  boost::system::error_code const code = qn::EC_BAD_CONFIG;
  EXPECT_EQ(&qn::cf_proto_category(), &code.category());
  EXPECT_EQ(102, code.value());
  EXPECT_EQ("Invalid configuration", code.message());
  EXPECT_TRUE(code);

  boost::system::error_code const made = qn::make_error_code(9999);
  EXPECT_EQ(&qn::cf_proto_category(), &made.category());
  EXPECT_EQ("qn.Error 9999", made.message());
  EXPECT_EQ(code, qn::make_error_code(qn::EC_BAD_CONFIG));

  boost::system::error_condition const condition = qn::make_error_condition(qn::EC_NO_MEMORY);
  EXPECT_EQ(&qn::cf_proto_category(), &condition.category());
  EXPECT_EQ(21, condition.value());
  EXPECT_EQ("Not enough memory", condition.message());
}

TEST(cf_proto_category, library_behaviour_kept_for_the_other_operations) {
  boost::system::error_category const& category = qn::cf_proto_category();
  EXPECT_EQ(qn::make_error_condition(12), category.default_error_condition(12));
  EXPECT_TRUE(category.equivalent(12, qn::make_error_condition(12)));
  EXPECT_FALSE(category.equivalent(12, boost::system::errc::make_error_condition(boost::system::errc::io_error)));
  char buffer[64];
  EXPECT_STREQ("Protocol violation", category.message(12, buffer, sizeof buffer));
  // A code of this category is no system error of the same number.
  EXPECT_NE(qn::make_error_code(2), boost::system::error_code(2, boost::system::system_category()));
}

}  // namespace
