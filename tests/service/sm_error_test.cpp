#include "service/sm_error.h"

#include <gtest/gtest.h>

namespace {

TEST(sm_error, category_name_and_texts) {
  struct text_case {
    int value;
    char const* text;
  };
  text_case const cases[] = {{0, "no error"},   {1, "failed to serialize"}, {2, "database error"},
                             {3, "sm error 3"}, {-3, "sm error -3"},        {-2147483647 - 1, "sm error -2147483648"}};
  for (text_case const& c : cases) EXPECT_EQ(c.text, sm_make_error_code(c.value).message()) << c.value;
  EXPECT_STREQ("sm", sm_category().name());
  EXPECT_EQ(&sm_category(), &sm_make_error_condition(2).category());
  EXPECT_TRUE(sm_make_error_code(1) == sm_make_error_condition(1));
  EXPECT_FALSE(sm_make_error_code(0));
}

}  // namespace
