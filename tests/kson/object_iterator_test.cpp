#include "kson/object_iterator.h"

#include <gtest/gtest.h>

#include <string>

#include "kson/reader.h"
#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::u32;

namespace {

TEST(kson_object_iterator, walks_pairs_in_order) {
  std::string input = bytes({'o', 2}) + u32(7) + "T" + bytes({'i', 8, 0}) + "F";
  kson::parser_t parser(input.data(), input.size());
  kson::reader_t reader(parser);
  kson::object_iterator_t it;
  ASSERT_TRUE(reader.begin(it));
  EXPECT_TRUE(it.object().is_object());
  ASSERT_TRUE(it.next());
  EXPECT_EQ(7u, it.key_uint32());
  EXPECT_EQ('T', it.value().type());
  ASSERT_TRUE(it.next());
  EXPECT_EQ(0u, it.key_uint32());  // an i key is no 32-bit key
  EXPECT_EQ('F', it.value().type());
  EXPECT_FALSE(it.next());
  EXPECT_FALSE(it.next());
}

TEST(kson_object_iterator, empty_object_and_non_objects_yield_no_pair) {
  std::string const inputs[] = {bytes({'o', 0}), bytes({'a', 1}) + u32(1), "Z"};
  for (auto const& input : inputs) {
    SCOPED_TRACE(testing::PrintToString(input));
    kson::parser_t parser(input.data(), input.size());
    kson::reader_t reader(parser);
    kson::object_iterator_t it;
    ASSERT_TRUE(reader.begin(it));
    EXPECT_FALSE(it.next());
  }
}

TEST(kson_object_iterator, begin_restarts_a_finished_iterator_on_the_next_value) {
  std::string input = bytes({'o', 1}) + u32(1) + "Z" + bytes({'o', 2}) + u32(2) + "T" + u32(3) + "F" + "X";
  kson::parser_t parser(input.data(), input.size());
  kson::reader_t reader(parser);
  kson::object_iterator_t it;
  ASSERT_TRUE(reader.begin(it));
  ASSERT_TRUE(it.next());
  EXPECT_EQ(1u, it.key_uint32());
  EXPECT_FALSE(it.next());
  // Each begin parses the next value and walks it from its first pair.
  ASSERT_TRUE(reader.begin(it));
  ASSERT_TRUE(it.next());
  EXPECT_EQ(2u, it.key_uint32());
  EXPECT_EQ('T', it.value().type());
  ASSERT_TRUE(it.next());
  EXPECT_EQ(3u, it.key_uint32());
  EXPECT_FALSE(it.next());
  // The trailing "X" is no value.
  EXPECT_FALSE(reader.begin(it));
  EXPECT_EQ('E', it.object().type());
  EXPECT_FALSE(it.next());
}

TEST(kson_object_iterator, fresh_iterator_is_empty) {
  kson::object_iterator_t it;
  EXPECT_EQ(0u, it.key_uint32());
  EXPECT_EQ('E', it.object().type());
  EXPECT_FALSE(it.next());
}

}  // namespace
