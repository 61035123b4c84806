#include "kson/kson_writer.h"

#include <gtest/gtest.h>

#include "tests/kson/kson_bytes.h"

using kson_test::bytes;

namespace {

using write_t = std::function<bool(kson_writer_t*)>;

// Runs write on a buffer root, or on a counting one when capacity is 0; the bytes written (as many
// zeros when counting), or "<failed>".
std::string written(write_t const& write, size_t capacity = 8192) {
  std::string buffer(capacity, '\0');
  kson_writer_t* root = capacity ? kson_writer_new_buffer(&buffer[0], capacity) : kson_writer_new();
  bool const ok = write(root);
  buffer.resize(kson_writer_size(root));
  kson_writer_close(root);
  return ok ? buffer : "<failed>";
}

// n values written by put into a new container; the close's result counts.
write_t container(bool object, bool big, int n, write_t put = kson_write_nil) {
  return [=](kson_writer_t* w) {
    kson_writer_t* c = object ? kson_writer_open_object(w, big) : kson_writer_open_array(w, big);
    bool ok = true;
    for (int i = 0; i < n && ok; ++i) ok = put(c);
    return kson_writer_close(c) && ok;
  };
}

TEST(kson_writer, values_are_written_byte_exact_and_the_counting_pass_agrees) {
  std::string const s255(255, 'x'), s256(256, 'y');
  std::string pairs;
  for (int i = 0; i < 300; ++i) pairs += bytes("42 01 5a");
  std::pair<write_t, std::string> const rows[] = {
      {[](kson_writer_t* w) { return kson_write_nil(w) && kson_write_bool(w, true) && kson_write_bool(w, false); },
       "ZTF"},
      {[](kson_writer_t* w) { return kson_write_uint8(w, 0xAB) && kson_write_int8(w, -2); }, bytes("42 ab 42 fe")},
      {[](kson_writer_t* w) { return kson_write_uint16(w, 0x1234) && kson_write_int16(w, -2); },
       bytes("69 34 12 69 fe ff")},
      {[](kson_writer_t* w) { return kson_write_uint32(w, 0x01020304) && kson_write_int32(w, -1); },
       bytes("49 04 03 02 01 49 ff ff ff ff")},
      {[](kson_writer_t* w) { return kson_write_uint64(w, 0x0102030405060708ull) && kson_write_int64(w, -3); },
       bytes("4c 08 07 06 05 04 03 02 01 4c fd ff ff ff ff ff ff ff")},
      {[](kson_writer_t* w) { return kson_write_string(w, "ab\0c", 4) && kson_write_cstring(w, ""); },
       bytes("73 04 'ab' 00 'c' 73 00")},
      {[&](kson_writer_t* w) { return kson_write_string(w, s255.data(), 255); }, bytes("73 ff") + s255},
      {[&](kson_writer_t* w) { return kson_write_string(w, s256.data(), 256); }, bytes("53 00 01 00 00") + s256},
      // Containers patch their counts in when they close; an object counts its pairs.
      {container(false, true, 1), bytes("41 01 00 00 00 'Z'")},
      {container(true, false, 2, container(true, false, 0)), bytes("6f 01 6f 00 6f 00")},
      {container(false, false, 255), bytes("61 ff") + std::string(255, 'Z')},
      {container(true, true, 300, [](kson_writer_t* w) { return kson_write_uint8(w, 1) && kson_write_nil(w); }),
       bytes("4f 2c 01 00 00") + pairs},
  };
  for (auto const& [write, expected] : rows) {
    EXPECT_EQ(expected, written(write)) << expected.substr(0, 8);
    EXPECT_EQ(std::string(expected.size(), '\0'), written(write, 0)) << expected.substr(0, 8);
  }
}

TEST(kson_writer, short_forms_refuse_a_256th_item_or_key_and_objects_an_odd_count) {
  for (bool big : {false, true}) EXPECT_EQ("<failed>", written(container(true, big, 1))) << big;
  EXPECT_EQ("<failed>", written(container(false, false, 256)));
  bool key_refused = false;  // the key itself is refused, not only its value
  EXPECT_EQ("<failed>", written(container(true, false, 256, [&](kson_writer_t* w) {
              if (kson_write_uint8(w, 1)) return kson_write_nil(w);
              return !(key_refused = true);
            })));
  EXPECT_TRUE(key_refused);
  // Without this the parent would announce 255 items while holding 256; over a buffer the parent
  // refuses its 256 items itself too.
  for (size_t capacity : {1024, 0}) {
    bool inner_closed = true, outer_closed = true;
    written(
        [&](kson_writer_t* root) {
          kson_writer_t* a = kson_writer_open_array(root, false);
          for (int i = 0; i < 255; ++i) kson_write_nil(a);
          inner_closed = kson_writer_close(kson_writer_open_array(a, false));
          outer_closed = kson_writer_close(a);
          return true;
        },
        capacity);
    EXPECT_FALSE(inner_closed) << capacity;
    EXPECT_EQ(capacity == 0, outer_closed) << capacity;
  }
}

TEST(kson_writer, a_put_that_does_not_fit_copies_nothing_but_earlier_puts_stay_and_lengths_stay_in_32_bits) {
  char buffer[6] = {'.', '.', '.', '.', '.', '.'};
  kson_writer_t* root = kson_writer_new_buffer(buffer, sizeof buffer);
  EXPECT_TRUE(kson_write_nil(root));
  EXPECT_FALSE(kson_write_uint64(root, 0x0101010101010101ull));  // the marker stays, the payload does not
  EXPECT_EQ(std::string("ZL...."), std::string(buffer, 6));
  EXPECT_TRUE(kson_write_uint16(root, 0x0201) && kson_write_nil(root));
  EXPECT_FALSE(kson_write_nil(root));
  EXPECT_EQ(6u, kson_writer_size(root));
  EXPECT_EQ(bytes("'ZLi' 01 02 'Z'"), std::string(buffer, 6));
  kson_writer_close(root);
  // Lengths beyond 32 bits fail instead of being cut; a counting root never reads the bytes.
  kson_writer_t* counter = kson_writer_new();
  EXPECT_FALSE(kson_write_string(counter, buffer, size_t{1} << 32));
  EXPECT_TRUE(kson_write_string(counter, buffer, 0xFFFFFFFFu));
  EXPECT_EQ(size_t{5} + 0xFFFFFFFFu, kson_writer_size(counter));
  kson_writer_close(counter);
}

}  // namespace
