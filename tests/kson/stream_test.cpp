#include "kson/stream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::le;

namespace {

TEST(kson_stream, signed_and_unsigned_twins_write_the_same_bytes) {
  std::string buffer(64, '\0');
  {
    kson::stream_t root(&buffer[0], buffer.size());
    EXPECT_TRUE(root.write_uint8(0xFF));
    EXPECT_TRUE(root.write_int8(-1));
    EXPECT_TRUE(root.write_uint16(0xFFFF));
    EXPECT_TRUE(root.write_int16(-1));
    EXPECT_TRUE(root.write_uint32(0xFFFFFFFF));
    EXPECT_TRUE(root.write_int32(-1));
    EXPECT_TRUE(root.write_uint64(~0ull));
    EXPECT_TRUE(root.write_int64(-1));
    EXPECT_EQ(2u * (2 + 3 + 5 + 9), root.size());
    EXPECT_EQ(1u, root.type());
  }
  std::string ff8(8, '\xFF');
  EXPECT_EQ("B" + ff8.substr(0, 1) + "B" + ff8.substr(0, 1) + "i" + ff8.substr(0, 2) + "i" + ff8.substr(0, 2) + "I" +
                ff8.substr(0, 4) + "I" + ff8.substr(0, 4) + "L" + ff8 + "L" + ff8,
            buffer.substr(0, 38));
}

TEST(kson_stream, string_overloads_share_one_encoding) {
  std::string buffer(64, '\0');
  kson::stream_t root(&buffer[0], buffer.size());
  std::string text("ab");
  std::vector<char> vec{'a', 'b'};
  EXPECT_TRUE(root.write_string("ab", 2));
  EXPECT_TRUE(root.write_string("ab"));
  EXPECT_TRUE(root.write_string(text));
  EXPECT_TRUE(root.write_string(vec));
  EXPECT_FALSE(root.write_string(static_cast<char const*>(nullptr)));
  EXPECT_EQ(16u, root.size());
  EXPECT_EQ(
      "s\x02"
      "ab"
      "s\x02"
      "ab"
      "s\x02"
      "ab"
      "s\x02"
      "ab",
      buffer.substr(0, 16));
}

TEST(kson_stream, child_closes_with_its_count_and_handle_is_then_null) {
  std::string buffer(64, '\0');
  kson::stream_t root(&buffer[0], buffer.size());
  {
    kson::stream_t object(root, true, false);
    EXPECT_EQ(3u, object.type());
    EXPECT_TRUE(object.write_uint32(1));
    EXPECT_TRUE(object.write_nil());
    EXPECT_TRUE(object.close());
    EXPECT_EQ(4u, object.type());
    EXPECT_TRUE(object.close());  // already closed
    EXPECT_FALSE(object.write_nil());
  }
  {
    kson::stream_t array(root, false, true);  // closed by its destructor
    EXPECT_EQ(2u, array.type());
    EXPECT_TRUE(array.write_bool(true));
  }
  EXPECT_EQ(bytes({'o', 1}) + kson_test::u32(1) + "Z" + "A" + le(1, 4) + "T", buffer.substr(0, root.size()));
}

TEST(kson_stream, creation_failures_throw) {
  try {
    kson::stream_t root(nullptr, 4);
    FAIL() << "no exception";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ("failed to create stream", e.what());
  }
  char byte;
  kson::stream_t tiny(&byte, 1);
  EXPECT_TRUE(tiny.write_nil());
  // No room for the marker of a child.
  EXPECT_THROW(kson::stream_t(tiny, true, false), std::runtime_error);
  kson::stream_t closed;
  closed.close();
  EXPECT_THROW(kson::stream_t(closed, false, false), std::runtime_error);
}

TEST(kson_stream, counting_root_counts) {
  kson::stream_t counter;
  EXPECT_EQ(0u, counter.type());
  {
    kson::stream_t object(counter, true, false);
    EXPECT_TRUE(object.write_uint32(1));
    EXPECT_TRUE(object.write_string(std::string(300, 'x')));
  }
  EXPECT_EQ(2u + 5u + 5u + 300u, counter.size());
}

TEST(kson_stream, attached_writer_survives_detach) {
  char buffer[4];
  kson_writer_t* raw = kson_writer_new_buffer(buffer, sizeof buffer);
  {
    kson::stream_t handle(raw);
    EXPECT_TRUE(handle.write_nil());
    EXPECT_EQ(raw, handle.detach());
  }
  EXPECT_TRUE(kson_write_bool(raw, true));
  EXPECT_EQ(2u, kson_writer_size(raw));
  kson_writer_close(raw);
}

}  // namespace
