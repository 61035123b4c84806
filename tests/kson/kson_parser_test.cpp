#include "kson/kson_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::le;

namespace {

// Parses input once; keeps the parser so the tree stays valid.
struct parsed {
  explicit parsed(std::string const& input) : text(input) {
    parser = kson_parser_new(text.data(), text.size());
    rc = kson_parser_parse(parser, &root);
  }
  ~parsed() { kson_parser_free(parser); }
  std::string text;
  kson_parser_t* parser = nullptr;
  kson_node_t* root = nullptr;
  int rc = -1;
};

struct scalar_case {
  std::string input;
  char type;
  size_t count;
};

TEST(kson_parser, decodes_every_kind) {
  scalar_case const cases[] = {
      {"Z", 'Z', 0},
      {"T", 'T', 0},
      {"F", 'F', 0},
      {bytes({'B', 1}), 'B', 1},
      {bytes({'i', 1, 2}), 'i', 2},
      {bytes({'I', 1, 2, 3, 4}), 'I', 4},
      {bytes({'L', 1, 2, 3, 4, 5, 6, 7, 8}), 'L', 8},
      {bytes({'s', 0}), 's', 0},
      {"s\x02hi", 's', 2},
      {"S" + le(3, 4) + "abc", 'S', 3},
      {bytes({'a', 0}), 'a', 0},
      {bytes({'o', 0}), 'o', 0},
      {"A" + le(2, 4) + "ZZ", 'A', 2},
      {"O" + le(1, 4) + "ZT", 'O', 1},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.input);
    parsed p(c.input);
    ASSERT_EQ(0, p.rc);
    EXPECT_EQ(c.type, kson_value_type(p.root));
    EXPECT_EQ(static_cast<uint32_t>(static_cast<unsigned char>(c.type)), p.root->marker);
    EXPECT_EQ(c.count, p.root->count);
  }
}

TEST(kson_parser, rejects_malformed_and_truncated_input) {
  std::string const cases[] = {
      "X",                                // no marker
      bytes({0}),                         // no marker
      "E",                                // E names a null node, never a value
      "B",                                // payload missing
      bytes({'i', 1}),                    // payload short
      bytes({'I', 1, 2, 3}),              //
      bytes({'L', 1, 2, 3, 4, 5, 6, 7}),  //
      "s",                                // length missing
      "S" + le(1, 3),                     // length short
      "s\x03"
      "ab",                             // string longer than the input
      "S" + le(5, 4) + "abcd",          //
      bytes({'a', 2, 'Z'}),             // fewer items than counted
      "A" + le(2, 4) + "Z",             //
      bytes({'o', 1, 'Z'}),             // key without value
      "O" + le(2, 4) + "ZZZ",           //
      bytes({'a', 1, 'a', 1, 'X'}),     // a bad child fails the whole value
      bytes({'o', 1, 'B', 1, 'i', 0}),  //
  };
  for (auto const& input : cases) {
    SCOPED_TRACE(testing::PrintToString(input));
    parsed p(input);
    EXPECT_EQ(4, p.rc);
    EXPECT_EQ(nullptr, p.root);
    EXPECT_EQ(nullptr, p.parser->root);
  }
}

TEST(kson_parser, huge_counts_on_short_input_are_refused_before_allocating) {
  // Tables for 2^32 items would need 32 GiB; a count beyond the remaining bytes is
  // refused before any table is made.
  for (char marker : {'A', 'O'}) {
    std::string input = std::string(1, marker) + le(0xFFFFFFFFu, 4) + "ZZZZ";
    parsed p(input);
    EXPECT_EQ(4, p.rc);
  }
  // Each pair takes at least two bytes.
  parsed pairs("O" + le(2, 4) + "ZZZ");
  EXPECT_EQ(4, pairs.rc);
  parsed items(bytes({'a', 3, 'Z', 'Z', 'Z'}));
  EXPECT_EQ(0, items.rc);
}

TEST(kson_parser, nesting_depth_is_bounded) {
  std::string ok, deep;
  for (unsigned i = 0; i < KSON_MAX_DEPTH - 1; ++i) ok += bytes({'a', 1});
  ok += bytes({'a', 0});
  parsed p(ok);
  EXPECT_EQ(0, p.rc);

  deep = bytes({'a', 1}) + ok;
  parsed q(deep);
  EXPECT_EQ(4, q.rc);

  // Far deeper input still returns instead of exhausting the stack.
  std::string hostile;
  for (int i = 0; i < 200000; ++i) hostile += bytes({'o', 1, 'Z'});
  parsed r(hostile);
  EXPECT_EQ(4, r.rc);
}

TEST(kson_parser, result_codes_for_missing_input) {
  char byte = 'Z';
  EXPECT_EQ(nullptr, kson_parser_new(nullptr, 1));
  EXPECT_EQ(nullptr, kson_parser_new(&byte, 0));
  EXPECT_EQ(2, kson_parser_parse(nullptr, nullptr));
  kson_parser_t* parser = kson_parser_new(&byte, 1);
  EXPECT_EQ(0, kson_parser_parse(parser, nullptr));  // no out pointer is fine
  EXPECT_NE(nullptr, parser->root);
  EXPECT_EQ(1, kson_parser_parse(parser, nullptr));  // nothing left
  parser->data = nullptr;
  EXPECT_EQ(2, kson_parser_parse(parser, nullptr));
  kson_parser_free(parser);
  kson_parser_free(nullptr);
}

TEST(kson_parser, trailing_bytes_are_left_for_the_next_parse) {
  std::string input = bytes({'B', 7, 'i', 1, 0, 'X'});
  kson_parser_t* parser = kson_parser_new(input.data(), input.size());
  kson_node_t* root = nullptr;
  ASSERT_EQ(0, kson_parser_parse(parser, &root));
  uint8_t u8 = 0;
  EXPECT_TRUE(kson_get_uint8(root, &u8));
  EXPECT_EQ(7, u8);
  EXPECT_EQ(4u, parser->size);
  ASSERT_EQ(0, kson_parser_parse(parser, &root));
  uint16_t u16 = 0;
  EXPECT_TRUE(kson_get_uint16(root, &u16));
  EXPECT_EQ(1, u16);
  EXPECT_EQ(4, kson_parser_parse(parser, &root));
  EXPECT_EQ(nullptr, parser->root);
  kson_parser_free(parser);
}

TEST(kson_parser, strings_point_into_the_input) {
  parsed p(
      "s\x05hello"
      "trailing");
  ASSERT_EQ(0, p.rc);
  char const* data = nullptr;
  size_t size = 0;
  ASSERT_TRUE(kson_string_data(p.root, &data));
  ASSERT_TRUE(kson_string_size(p.root, &size));
  EXPECT_EQ(p.text.data() + 2, data);
  EXPECT_EQ(5u, size);
}

TEST(kson_parser, integer_getters_take_the_exact_marker_only) {
  parsed b(bytes({'B', 0xFE}));
  parsed i(bytes({'i', 0xFE, 0xFF}));
  parsed I(bytes({'I', 0xFE, 0xFF, 0xFF, 0xFF}));
  parsed L(bytes({'L', 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  uint8_t u8;
  int8_t s8;
  uint16_t u16;
  int16_t s16;
  uint32_t u32;
  int32_t s32;
  uint64_t u64;
  int64_t s64;

  EXPECT_TRUE(kson_get_uint8(b.root, &u8));
  EXPECT_EQ(0xFE, u8);
  EXPECT_TRUE(kson_get_int8(b.root, &s8));
  EXPECT_EQ(-2, s8);
  EXPECT_TRUE(kson_get_uint16(i.root, &u16));
  EXPECT_EQ(0xFFFE, u16);
  EXPECT_TRUE(kson_get_int16(i.root, &s16));
  EXPECT_EQ(-2, s16);
  EXPECT_TRUE(kson_get_uint32(I.root, &u32));
  EXPECT_EQ(0xFFFFFFFEu, u32);
  EXPECT_TRUE(kson_get_int32(I.root, &s32));
  EXPECT_EQ(-2, s32);
  EXPECT_TRUE(kson_get_uint64(L.root, &u64));
  EXPECT_EQ(0xFFFFFFFFFFFFFFFEull, u64);
  EXPECT_TRUE(kson_get_int64(L.root, &s64));
  EXPECT_EQ(-2, s64);

  // No widening, no narrowing.
  u64 = 5;
  EXPECT_FALSE(kson_get_uint64(I.root, &u64));
  EXPECT_EQ(5u, u64);
  EXPECT_FALSE(kson_get_int64(I.root, &s64));
  EXPECT_FALSE(kson_get_uint32(L.root, &u32));
  EXPECT_FALSE(kson_get_uint32(b.root, &u32));
  EXPECT_FALSE(kson_get_uint32(i.root, &u32));
  EXPECT_FALSE(kson_get_uint8(i.root, &u8));
  EXPECT_FALSE(kson_get_uint16(I.root, &u16));
  EXPECT_FALSE(kson_get_uint32(nullptr, &u32));
  // A null out pointer only tests.
  EXPECT_TRUE(kson_get_uint32(I.root, nullptr));
  EXPECT_FALSE(kson_get_uint32(L.root, nullptr));
}

TEST(kson_parser, kind_tests_and_accessors) {
  parsed t("T"), f("F"), z("Z"), s("S" + le(1, 4) + "x"), a("A" + le(2, 4) + "TF"),
      o(bytes({'o', 2, 'B', 1, 'Z', 's', 1, 'k', 'T'}));
  EXPECT_EQ('E', kson_value_type(nullptr));
  EXPECT_FALSE(kson_is_nil(nullptr));
  EXPECT_TRUE(kson_is_nil(z.root));
  EXPECT_TRUE(kson_is_bool(t.root));
  EXPECT_TRUE(kson_is_bool(f.root));
  EXPECT_FALSE(kson_is_bool(z.root));
  EXPECT_TRUE(kson_is_string(s.root));
  EXPECT_TRUE(kson_is_array(a.root));
  EXPECT_TRUE(kson_is_object(o.root));
  EXPECT_FALSE(kson_is_object(a.root));

  bool value = false;
  EXPECT_TRUE(kson_get_bool(t.root, &value));
  EXPECT_TRUE(value);
  EXPECT_TRUE(kson_get_bool(f.root, &value));
  EXPECT_FALSE(value);
  value = true;
  EXPECT_FALSE(kson_get_bool(z.root, &value));
  EXPECT_TRUE(value);

  size_t n = 99;
  EXPECT_FALSE(kson_array_size(o.root, &n));
  EXPECT_EQ(99u, n);
  EXPECT_TRUE(kson_array_size(a.root, &n));
  EXPECT_EQ(2u, n);
  EXPECT_FALSE(kson_object_size(a.root, &n));
  EXPECT_EQ(2u, n);
  EXPECT_TRUE(kson_object_size(o.root, &n));
  EXPECT_EQ(2u, n);
  EXPECT_FALSE(kson_string_size(a.root, &n));

  kson_node_t* node = nullptr;
  EXPECT_TRUE(kson_array_item(a.root, 1, &node));
  EXPECT_EQ('F', kson_value_type(node));
  EXPECT_FALSE(kson_array_item(a.root, 2, &node));
  EXPECT_FALSE(kson_array_item(o.root, 0, &node));
  EXPECT_TRUE(kson_object_key(o.root, 1, &node));
  EXPECT_EQ('s', kson_value_type(node));
  EXPECT_TRUE(kson_object_value(o.root, 1, &node));
  EXPECT_EQ('T', kson_value_type(node));
  EXPECT_TRUE(kson_object_value(o.root, 0, &node));
  EXPECT_EQ('Z', kson_value_type(node));
  EXPECT_FALSE(kson_object_key(o.root, 2, &node));
  EXPECT_FALSE(kson_object_value(a.root, 0, &node));
  EXPECT_FALSE(kson_object_key(nullptr, 0, &node));
}

}  // namespace
