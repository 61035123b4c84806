#include "service/sm_error.h"

#include <gtest/gtest.h>

namespace {

TEST(sm_error, category_texts) {
  struct text_case {
    int value;
    char const* text;
  };
  text_case const cases[] = {{0, "no error"},
                             {1, "failed to serialize"},
                             {2, "database error"},
                             {3, "sm error 3"},
                             {7, "sm error 7"},
                             {-3, "sm error -3"},
                             {2147483647, "sm error 2147483647"},
                             {-2147483647 - 1, "sm error -2147483648"}};
  for (text_case const& c : cases) EXPECT_EQ(c.text, sm_category().message(c.value)) << c.value;
  EXPECT_STREQ("sm", sm_category().name());
}

TEST(sm_error, codes_and_conditions_belong_to_the_category) {
  boost::system::error_code const code = sm_make_error_code(1);
  EXPECT_EQ(1, code.value());
  EXPECT_EQ(&sm_category(), &code.category());
  EXPECT_EQ("failed to serialize", code.message());
  boost::system::error_condition const condition = sm_make_error_condition(2);
  EXPECT_EQ(&sm_category(), &condition.category());
  EXPECT_TRUE(code == sm_make_error_condition(1));
  EXPECT_FALSE(sm_make_error_code(0));
}

}  // namespace
