#include "kson/kson_parser.h"

#include <gtest/gtest.h>

#include <fstream>
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

// The bool and integer getters that take the node, with the values they read.
std::string integers(kson_node_t const* n) {
  uint8_t u8;
  int8_t s8;
  uint16_t u16;
  int16_t s16;
  uint32_t u32;
  int32_t s32;
  uint64_t u64;
  int64_t s64;
  bool flag = false;
  std::string out = kson_get_bool(n, &flag) ? (flag ? "true" : "false") : "";
  if (kson_get_uint8(n, &u8) && kson_get_int8(n, &s8)) out += std::to_string(u8) + "/" + std::to_string(s8);
  if (kson_get_uint16(n, &u16) && kson_get_int16(n, &s16)) out += std::to_string(u16) + "/" + std::to_string(s16);
  if (kson_get_uint32(n, &u32) && kson_get_int32(n, &s32)) out += std::to_string(u32) + "/" + std::to_string(s32);
  if (kson_get_uint64(n, &u64) && kson_get_int64(n, &s64)) out += std::to_string(u64) + "/" + std::to_string(s64);
  return out;
}

TEST(kson_parser, decodes_every_kind_and_integers_only_through_their_own_getters) {
  struct row_t {
    char const* input;
    char type;
    size_t count;
    char const* integers;
  };
  for (row_t const& row :
       {row_t{"'Z'", 'Z', 0, ""}, row_t{"'T'", 'T', 0, "true"}, row_t{"'F'", 'F', 0, "false"},
        row_t{"42 fe", 'B', 1, "254/-2"}, row_t{"69 fe ff", 'i', 2, "65534/-2"},
        row_t{"49 fe ff ff ff", 'I', 4, "4294967294/-2"},
        row_t{"4c fe ff ff ff ff ff ff ff", 'L', 8, "18446744073709551614/-2"}, row_t{"73 00", 's', 0, ""},
        row_t{"73 02 'hi'", 's', 2, ""}, row_t{"53 03 00 00 00 'abc'", 'S', 3, ""}, row_t{"61 00", 'a', 0, ""},
        row_t{"6f 00", 'o', 0, ""}, row_t{"41 02 00 00 00 'ZZ'", 'A', 2, ""},
        row_t{"4f 01 00 00 00 'ZT'", 'O', 1, ""}}) {
    parsed p(bytes(row.input));
    ASSERT_EQ(0, p.rc) << row.input;
    EXPECT_EQ(row.type, kson_value_type(p.root)) << row.input;
    EXPECT_EQ(row.count, p.root->count) << row.input;
    EXPECT_EQ(row.integers, integers(p.root)) << row.input;
  }
  parsed p(bytes("49 07 00 00 00"));
  uint64_t untouched = 5;
  EXPECT_FALSE(kson_get_uint64(p.root, &untouched));
  EXPECT_EQ(5u, untouched);
  EXPECT_TRUE(kson_get_uint32(p.root, nullptr));  // a null out pointer only tests
  EXPECT_FALSE(kson_get_uint32(nullptr, nullptr));
}

TEST(kson_parser, rejects_malformed_and_truncated_input) {
  for (char const* input : {
           "'X'", "00", "'E'",                                        // no marker; E names a null node, never a value
           "'B'", "69 01", "49 01 02 03", "4c 01 02 03 04 05 06 07",  // payload short
           "'s'", "53 01 00 00", "73 03 'ab'", "53 05 00 00 00 'abcd'",             // string longer than the input
           "61 02 'Z'", "41 02 00 00 00 'Z'", "6f 01 'Z'", "4f 02 00 00 00 'ZZZ'",  // fewer items than counted
           "61 01 61 01 'X'", "6f 01 42 01 69 00",                                  // a bad child fails the whole value
       }) {
    parsed p(bytes(input));
    EXPECT_EQ(4, p.rc) << input;
    EXPECT_TRUE(p.root == nullptr && p.parser->root == nullptr) << input;
  }
}

long peak_virtual_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmPeak:", 0) == 0) return std::stol(line.substr(7));
  return -1;
}

TEST(kson_parser, huge_counts_on_short_input_are_refused_before_allocating) {
  // Tables for 2^32 items take 32 GiB: made at all, they raise the peak of the address space,
  // and where they cannot be made the result is no longer "malformed".
  for (char const* input : {"41 ff ff ff ff 'ZZZZ'", "4f ff ff ff ff 'ZZZZ'"}) {
    long const before = peak_virtual_kib();
    parsed p(bytes(input));
    EXPECT_EQ(4, p.rc) << input;
    EXPECT_LT(peak_virtual_kib() - before, 1L << 20) << input;
  }
}

TEST(kson_parser, nesting_depth_is_bounded) {
  std::string ok;
  for (unsigned i = 0; i < KSON_MAX_DEPTH - 1; ++i) ok += bytes("61 01");
  ok += bytes("61 00");
  EXPECT_EQ(0, parsed(ok).rc);
  EXPECT_EQ(4, parsed(bytes("61 01") + ok).rc);
  std::string hostile;  // far deeper input still returns instead of exhausting the stack
  for (int i = 0; i < 200000; ++i) hostile += bytes("6f 01 'Z'");
  EXPECT_EQ(4, parsed(hostile).rc);
}

TEST(kson_parser, result_codes_trailing_bytes_and_strings_in_place) {
  char byte = 'Z';
  EXPECT_EQ(nullptr, kson_parser_new(nullptr, 1));
  EXPECT_EQ(nullptr, kson_parser_new(&byte, 0));
  EXPECT_EQ(2, kson_parser_parse(nullptr, nullptr));
  std::string const input = bytes("73 02 'hi' 42 07 'X'");
  kson_parser_t* parser = kson_parser_new(input.data(), input.size());
  kson_node_t* root = nullptr;
  ASSERT_EQ(0, kson_parser_parse(parser, &root));
  EXPECT_EQ(input.data() + 2, root->data);  // no copy of the string bytes
  EXPECT_EQ(3u, parser->size);
  ASSERT_EQ(0, kson_parser_parse(parser, nullptr));  // no out pointer is fine
  EXPECT_EQ("7/7", integers(parser->root));
  EXPECT_EQ(4, kson_parser_parse(parser, &root));
  EXPECT_EQ(nullptr, parser->root);
  parser->data = nullptr;
  EXPECT_EQ(2, kson_parser_parse(parser, nullptr));
  kson_parser_free(parser);
  kson_parser_free(nullptr);
  parser = kson_parser_new(&byte, 1);
  EXPECT_EQ(0, kson_parser_parse(parser, nullptr));
  EXPECT_EQ(1, kson_parser_parse(parser, nullptr));  // nothing left
  kson_parser_free(parser);
}

}  // namespace
