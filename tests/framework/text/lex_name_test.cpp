#include "framework/text/lex_name.h"

#include <gtest/gtest.h>

namespace {

TEST(lex_normalize_name, share_tag_keys) {
  struct row_t {
    std::string tag;
    std::string key;
  };
  for (row_t const& row :
       {row_t{"My_Share", "myshare"}, row_t{"MYSHARE_", "myshare"}, row_t{"_m_y_s_h_a_r_e_", "myshare"}, row_t{"", ""},
        row_t{"___", ""}, row_t{"AZaz09", "azaz09"}, row_t{"A-B.C 1@[`{", "a-b.c 1@[`{"},
        // Capital A with diaeresis in UTF-8 keeps its bytes; the underscores go.
        row_t{"_\xC3\x84_Data",
              "\xC3\x84"
              "data"},
        row_t{std::string("A\0B", 3), std::string("a\0b", 3)}})
    EXPECT_EQ(row.key, lex_normalize_name(row.tag)) << row.tag;
}

TEST(lex_name_equal, ignores_case_and_underscores) {
  EXPECT_TRUE(lex_name_equal("MYSHARE_", "_my_share"));
  EXPECT_TRUE(lex_name_equal("", "__"));
  EXPECT_FALSE(lex_name_equal("myshare", "myshares"));
  EXPECT_FALSE(lex_name_equal("my-share", "myshare"));
  EXPECT_FALSE(lex_name_equal("\xC3\x84", "\xC3\xA4"));
}

TEST(lex_is_valid_name, letters_digits_and_underscores) {
  for (char const* name : {"a", "_", "A9_z", "0"}) EXPECT_TRUE(lex_is_valid_name(name)) << name;
  for (char const* name : {"", "a-b", "a b", "a.b", "\xC3\x84", "x\n"}) EXPECT_FALSE(lex_is_valid_name(name)) << name;
}

TEST(lex_camel_case_name, snake_to_camel) {
  struct row_t {
    char const* snake;
    char const* camel;
  };
  for (row_t const& row :
       {row_t{"scan_timeout", "ScanTimeout"}, row_t{"already", "Already"}, row_t{"Mixed_Up", "MixedUp"},
        row_t{"a__b", "AB"}, row_t{"_x", "X"}, row_t{"x_", "X"}, row_t{"a_1b", "A1b"}, row_t{"", ""}, row_t{"___", ""}})
    EXPECT_EQ(row.camel, lex_camel_case_name(row.snake)) << row.snake;
}

}  // namespace
