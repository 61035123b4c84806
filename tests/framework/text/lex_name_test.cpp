#include <gtest/gtest.h>

#include "framework/text/lex_name.h"

namespace {

// Share tags are compared by these keys.
TEST(lex_name, normalize_and_compare) {
  for (auto [tag, key] :
       std::vector<std::pair<std::string, std::string>>{{"My_Share", "myshare"},
                                                        {"_m_y_s_h_a_r_e_", "myshare"},
                                                        {"___", ""},
                                                        {"AZaz09", "azaz09"},
                                                        {"A-B.C 1@[`{", "a-b.c 1@[`{"},
                                                        {"_\xC3\x84_Data",
                                                         "\xC3\x84"
                                                         "data"},  // UTF-8 bytes are kept, underscores go
                                                        {std::string("A\0B", 3), std::string("a\0b", 3)}})
    EXPECT_EQ(key, lex_normalize_name(tag)) << tag;
  EXPECT_TRUE(lex_name_equal("MYSHARE_", "_my_share"));
  EXPECT_FALSE(lex_name_equal("myshare", "myshares") || lex_name_equal("\xC3\x84", "\xC3\xA4"));
}

}  // namespace
