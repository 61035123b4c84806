#include "kson/kson_parser.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/kson/kson_bytes.h"

using kson_test::bytes;

namespace {

// Parses input once; keeps the parser so the tree stays valid.
struct parsed {
  explicit parsed(std::string const& input)
      : text(input), parser(kson_parser_new(text.data(), text.size())), rc(kson_parser_parse(parser, &root)) {}
  ~parsed() { kson_parser_free(parser); }
  std::string text;
  kson_parser_t* parser = nullptr;
  kson_node_t* root = nullptr;
  int rc = -1;
};

// Each row: the kind and the count expected, then the input. Values of the numeric kinds are read
// back in the VFS-module messages' tests.
TEST(kson_parser, decodes_every_kind) {
  for (std::string const row : {"Z0 'Z'", "T0 'T'", "F0 'F'", "B1 42 fe", "i2 69 fe ff", "I4 49 fe ff ff ff",
                                "L8 4c fe ff ff ff ff ff ff ff", "s2 73 02 'hi'", "S3 53 03 00 00 00 'abc'", "a0 61 00",
                                "o0 6f 00", "A2 41 02 00 00 00 'ZZ'", "O1 4f 01 00 00 00 'ZT'"}) {
    parsed p(bytes(row.substr(3)));
    ASSERT_EQ(0, p.rc) << row;
    EXPECT_EQ(row.substr(0, 2), kson_value_type(p.root) + std::to_string(p.root->count)) << row;
  }
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

}  // namespace
