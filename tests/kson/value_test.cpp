#include "kson/value.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kson/parser.h"
#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::le;

namespace {

TEST(kson_value, size_is_the_same_for_both_forms) {
  std::string short_form = bytes({'a', 3, 'Z', 'Z', 'Z'});
  std::string long_form = "A" + le(3, 4) + "ZZZ";
  std::string object = "O" + le(2, 4) + "ZZZZ";
  kson::parser_t p1(short_form.data(), short_form.size()), p2(long_form.data(), long_form.size()),
      p3(object.data(), object.size());
  kson::value_t a, b, o;
  ASSERT_TRUE(p1.parse(a));
  ASSERT_TRUE(p2.parse(b));
  ASSERT_TRUE(p3.parse(o));
  EXPECT_EQ(3u, a.size());
  EXPECT_EQ(3u, b.size());
  EXPECT_EQ(2u, o.size());
  EXPECT_TRUE(b.is_array());
  EXPECT_EQ('A', b.type());
  EXPECT_EQ(0u, kson::value_t().size());
}

TEST(kson_value, get_string_clears_its_target) {
  std::string input = kson_test::u32(5) + "S" + le(3, 4) + "abc";
  kson::parser_t parser(input.data(), input.size());
  kson::value_t number, text;
  ASSERT_TRUE(parser.parse(number));
  std::string s = "old";
  std::vector<char> v{'o'};
  EXPECT_FALSE(number.get_string(s));
  EXPECT_TRUE(s.empty());
  EXPECT_FALSE(number.get_string(v));
  EXPECT_TRUE(v.empty());
  ASSERT_TRUE(parser.parse(text));
  EXPECT_TRUE(text.get_string(s));
  EXPECT_EQ("abc", s);
  EXPECT_TRUE(text.get_string(v));
  EXPECT_EQ((std::vector<char>{'a', 'b', 'c'}), v);
}

TEST(kson_value, getters_and_children) {
  std::string input = bytes({'o', 2, 'B', 1, 'T', 'i', 2, 0, 'a', 1, 'L', 9, 0, 0, 0, 0, 0, 0, 0});
  kson::parser_t parser(input.data(), input.size());
  kson::value_t root, key, value, item;
  ASSERT_TRUE(parser.parse(root));
  EXPECT_TRUE(root.is_object());

  ASSERT_TRUE(root.key(0, key));
  uint8_t u8 = 0;
  EXPECT_TRUE(key.get_uint8(u8));
  EXPECT_EQ(1, u8);
  uint32_t u32 = 3;
  EXPECT_FALSE(key.get_uint32(u32));
  EXPECT_EQ(3u, u32);
  ASSERT_TRUE(root.value(0, value));
  bool flag = false;
  EXPECT_TRUE(value.get_bool(flag));
  EXPECT_TRUE(flag);

  ASSERT_TRUE(root.value(1, value));
  EXPECT_TRUE(value.is_array());
  ASSERT_TRUE(value.item(0, item));
  int64_t s64 = 0;
  EXPECT_TRUE(item.get_int64(s64));
  EXPECT_EQ(9, s64);

  // A failed lookup leaves a null handle behind.
  EXPECT_FALSE(root.key(2, key));
  EXPECT_EQ('E', key.type());
  EXPECT_FALSE(root.item(0, item));
  EXPECT_EQ(nullptr, item.node());
  EXPECT_FALSE(value.value(0, value));
  EXPECT_EQ(nullptr, value.node());
}

TEST(kson_parser_handle, creation_failure_throws) {
  try {
    kson::parser_t parser(nullptr, 3);
    FAIL() << "no exception";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ("failed to create parser", e.what());
  }
  char byte = 'Z';
  EXPECT_THROW(kson::parser_t(&byte, 0), std::runtime_error);
}

TEST(kson_parser_handle, failed_parse_leaves_a_null_root) {
  std::string input = "Zq";
  kson::parser_t parser(input.data(), input.size());
  kson::value_t root;
  ASSERT_TRUE(parser.parse(root));
  EXPECT_TRUE(root.is_nil());
  EXPECT_FALSE(parser.parse(root));
  EXPECT_EQ(nullptr, root.node());
}

}  // namespace
