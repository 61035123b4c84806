#include "kson/kson_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::le;
using kson_test::written;

namespace {

struct scalar_case {
  char const* name;
  std::function<bool(kson_writer_t*)> write;
  std::string expected;
};

TEST(kson_writer, scalars_are_written_byte_exact) {
  scalar_case const cases[] = {
      {"nil", [](kson_writer_t* w) { return kson_write_nil(w); }, "Z"},
      {"true", [](kson_writer_t* w) { return kson_write_bool(w, true); }, "T"},
      {"false", [](kson_writer_t* w) { return kson_write_bool(w, false); }, "F"},
      {"uint8", [](kson_writer_t* w) { return kson_write_uint8(w, 0xAB); }, bytes({'B', 0xAB})},
      {"int8", [](kson_writer_t* w) { return kson_write_int8(w, -2); }, bytes({'B', 0xFE})},
      {"uint16", [](kson_writer_t* w) { return kson_write_uint16(w, 0x1234); }, bytes({'i', 0x34, 0x12})},
      {"int16", [](kson_writer_t* w) { return kson_write_int16(w, -2); }, bytes({'i', 0xFE, 0xFF})},
      {"uint32", [](kson_writer_t* w) { return kson_write_uint32(w, 0x01020304); },
       bytes({'I', 0x04, 0x03, 0x02, 0x01})},
      {"int32", [](kson_writer_t* w) { return kson_write_int32(w, -1); }, bytes({'I', 0xFF, 0xFF, 0xFF, 0xFF})},
      {"uint64", [](kson_writer_t* w) { return kson_write_uint64(w, 0x0102030405060708ull); },
       bytes({'L', 8, 7, 6, 5, 4, 3, 2, 1})},
      {"int64", [](kson_writer_t* w) { return kson_write_int64(w, -3); },
       bytes({'L', 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"string", [](kson_writer_t* w) { return kson_write_string(w, "ab\0c", 4); }, bytes({'s', 4, 'a', 'b', 0, 'c'})},
      {"empty string", [](kson_writer_t* w) { return kson_write_string(w, "", 0); }, bytes({'s', 0})},
      {"cstring", [](kson_writer_t* w) { return kson_write_cstring(w, "xyz"); }, "s\x03xyz"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, written(c.write));
    // The counting pass counts exactly the bytes the buffer pass writes.
    kson_writer_t* counter = kson_writer_new();
    ASSERT_TRUE(c.write(counter));
    EXPECT_EQ(c.expected.size(), kson_writer_size(counter));
    kson_writer_close(counter);
  }
}

TEST(kson_writer, string_switches_to_long_form_at_256_bytes) {
  std::string s255(255, 'x'), s256(256, 'y');
  EXPECT_EQ("s" + bytes({255}) + s255,
            written([&](kson_writer_t* w) { return kson_write_string(w, s255.data(), s255.size()); }));
  EXPECT_EQ("S" + le(256, 4) + s256,
            written([&](kson_writer_t* w) { return kson_write_string(w, s256.data(), s256.size()); }));
}

TEST(kson_writer, null_arguments_fail) {
  EXPECT_FALSE(kson_write_nil(nullptr));
  EXPECT_FALSE(kson_write_uint32(nullptr, 1));
  EXPECT_FALSE(kson_writer_close(nullptr));
  EXPECT_EQ(nullptr, kson_writer_open_array(nullptr, false));
  EXPECT_EQ(nullptr, kson_writer_open_object(nullptr, true));
  EXPECT_EQ(0u, kson_writer_size(nullptr));
  EXPECT_EQ(4u, kson_writer_type(nullptr));
  char byte = 0;
  EXPECT_EQ(nullptr, kson_writer_new_buffer(nullptr, 10));
  EXPECT_EQ(nullptr, kson_writer_new_buffer(&byte, 0));
  EXPECT_EQ("<failed>", written([](kson_writer_t* w) { return kson_write_cstring(w, nullptr); }));
}

TEST(kson_writer, kinds_and_sizes) {
  kson_writer_t* counter = kson_writer_new();
  EXPECT_EQ(0u, kson_writer_type(counter));
  kson_writer_t* array = kson_writer_open_array(counter, false);
  kson_writer_t* object = kson_writer_open_object(array, true);
  EXPECT_EQ(2u, kson_writer_type(array));
  EXPECT_EQ(3u, kson_writer_type(object));
  EXPECT_EQ(0u, kson_writer_size(array));
  EXPECT_TRUE(kson_writer_close(object));
  EXPECT_TRUE(kson_writer_close(array));
  // a 0, O and 256 as 4 bytes
  EXPECT_EQ(2u + 5u, kson_writer_size(counter));
  EXPECT_TRUE(kson_writer_close(counter));

  char buffer[8];
  kson_writer_t* root = kson_writer_new_buffer(buffer, sizeof buffer);
  EXPECT_EQ(1u, kson_writer_type(root));
  EXPECT_TRUE(kson_write_uint16(root, 7));
  EXPECT_EQ(3u, kson_writer_size(root));
  EXPECT_TRUE(kson_writer_close(root));
}

TEST(kson_writer, a_put_that_does_not_fit_copies_nothing_but_earlier_puts_stay) {
  char buffer[6] = {'.', '.', '.', '.', '.', '.'};
  kson_writer_t* root = kson_writer_new_buffer(buffer, sizeof buffer);
  EXPECT_TRUE(kson_write_nil(root));
  // The marker fits and stays; the 8-byte payload does not and is not copied.
  EXPECT_FALSE(kson_write_uint64(root, 0x0101010101010101ull));
  EXPECT_EQ(2u, kson_writer_size(root));
  EXPECT_EQ(std::string("ZL...."), std::string(buffer, 6));
  EXPECT_TRUE(kson_write_uint16(root, 0x0201));  // 3 of the 4 that remain
  EXPECT_TRUE(kson_write_nil(root));             // the last one
  EXPECT_FALSE(kson_write_nil(root));
  EXPECT_EQ(6u, kson_writer_size(root));
  EXPECT_EQ(bytes({'Z', 'L', 'i', 1, 2, 'Z'}), std::string(buffer, 6));
  kson_writer_close(root);
}

TEST(kson_writer, containers_back_patch_their_counts) {
  EXPECT_EQ(bytes({'a', 2, 'Z', 'T'}), written([](kson_writer_t* w) {
              kson_writer_t* a = kson_writer_open_array(w, false);
              return kson_write_nil(a) && kson_write_bool(a, true) && kson_writer_close(a);
            }));
  EXPECT_EQ("A" + le(1, 4) + "F", written([](kson_writer_t* w) {
              kson_writer_t* a = kson_writer_open_array(w, true);
              return kson_write_bool(a, false) && kson_writer_close(a);
            }));
  EXPECT_EQ(bytes({'o', 1, 'B', 1, 'o', 0}), written([](kson_writer_t* w) {
              kson_writer_t* o = kson_writer_open_object(w, false);
              if (!kson_write_uint8(o, 1)) return false;
              kson_writer_t* inner = kson_writer_open_object(o, false);
              return kson_writer_close(inner) && kson_writer_close(o);
            }));
  EXPECT_EQ("O" + le(0, 4),
            written([](kson_writer_t* w) { return kson_writer_close(kson_writer_open_object(w, true)); }));
}

TEST(kson_writer, short_array_takes_255_items) {
  std::string expected = bytes({'a', 255}) + std::string(255, 'Z');
  EXPECT_EQ(expected, written([](kson_writer_t* w) {
              kson_writer_t* a = kson_writer_open_array(w, false);
              for (int i = 0; i < 255; ++i)
                if (!kson_write_nil(a)) return false;
              return kson_writer_close(a);
            }));
  EXPECT_EQ("<failed>", written([](kson_writer_t* w) {
              kson_writer_t* a = kson_writer_open_array(w, false);
              bool ok = true;
              for (int i = 0; i < 256 && ok; ++i) ok = kson_write_nil(a);
              kson_writer_close(a);
              return ok;
            }));
}

TEST(kson_writer, short_object_takes_255_pairs_and_refuses_the_next_key) {
  auto pairs = [](kson_writer_t* w, int n, bool* key_refused) {
    kson_writer_t* o = kson_writer_open_object(w, false);
    for (int i = 0; i < n; ++i) {
      if (!kson_write_uint8(o, 1)) {
        *key_refused = true;
        kson_writer_close(o);
        return false;
      }
      if (!kson_write_nil(o)) {
        kson_writer_close(o);
        return false;
      }
    }
    return kson_writer_close(o);
  };
  bool refused = false;
  std::string out = written([&](kson_writer_t* w) { return pairs(w, 255, &refused); });
  EXPECT_EQ(2u + 255u * 3u, out.size());
  EXPECT_EQ(bytes({'o', 255}), out.substr(0, 2));
  EXPECT_FALSE(refused);
  EXPECT_EQ("<failed>", written([&](kson_writer_t* w) { return pairs(w, 256, &refused); }));
  EXPECT_TRUE(refused);
}

TEST(kson_writer, long_forms_take_more_than_255) {
  std::string out = written(
      [](kson_writer_t* w) {
        kson_writer_t* a = kson_writer_open_array(w, true);
        for (int i = 0; i < 300; ++i)
          if (!kson_write_nil(a)) return false;
        kson_writer_t* o = kson_writer_open_object(a, true);
        for (int i = 0; i < 300; ++i)
          if (!kson_write_nil(o) || !kson_write_nil(o)) return false;
        return kson_writer_close(o) && kson_writer_close(a);
      },
      8192);
  EXPECT_EQ("A" + le(301, 4), out.substr(0, 5));
  EXPECT_EQ("O" + le(300, 4), out.substr(5 + 300, 5));
  EXPECT_EQ(5u + 300u + 5u + 600u, out.size());
}

TEST(kson_writer, odd_object_close_fails_over_a_buffer_but_not_when_counting) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "long" : "short");
    char buffer[16];
    kson_writer_t* root = kson_writer_new_buffer(buffer, sizeof buffer);
    kson_writer_t* o = kson_writer_open_object(root, big);
    ASSERT_TRUE(kson_write_uint8(o, 1));
    EXPECT_FALSE(kson_writer_close(o));
    // The placeholder stays.
    EXPECT_EQ(big ? bytes({'O', 0, 1, 0, 0}) : bytes({'o', 0}), std::string(buffer, big ? 5 : 2));
    kson_writer_close(root);

    kson_writer_t* counter = kson_writer_new();
    o = kson_writer_open_object(counter, big);
    ASSERT_TRUE(kson_write_uint8(o, 1));
    EXPECT_TRUE(kson_writer_close(o));
    kson_writer_close(counter);
  }
}

TEST(kson_writer, container_refused_by_a_full_parent_fails_to_close) {
  // Without this the parent would announce 255 items while holding 256.
  for (bool counting : {false, true}) {
    SCOPED_TRACE(counting ? "counting" : "buffer");
    std::string buffer(1024, '\0');
    kson_writer_t* root = counting ? kson_writer_new() : kson_writer_new_buffer(&buffer[0], buffer.size());
    kson_writer_t* a = kson_writer_open_array(root, false);
    for (int i = 0; i < 255; ++i) ASSERT_TRUE(kson_write_nil(a));
    kson_writer_t* inner = kson_writer_open_array(a, false);
    ASSERT_NE(nullptr, inner);
    EXPECT_FALSE(kson_writer_close(inner));
    // Over a buffer the parent's own close refuses the 256 items as well.
    EXPECT_EQ(counting, kson_writer_close(a));
    kson_writer_close(root);
  }
}

TEST(kson_writer, put_count_uses_one_or_four_bytes) {
  EXPECT_EQ(bytes({255}), written([](kson_writer_t* w) { return kson_writer_put_count(w, 255); }));
  EXPECT_EQ(le(256, 4), written([](kson_writer_t* w) { return kson_writer_put_count(w, 256); }));
  EXPECT_EQ(le(0xFFFFFFFFu, 4), written([](kson_writer_t* w) { return kson_writer_put_count(w, 0xFFFFFFFFu); }));
}

TEST(kson_writer, lengths_beyond_32_bits_fail_instead_of_being_cut) {
  // A counting root never reads the bytes, so no such buffer is needed.
  static char const dummy = 0;
  kson_writer_t* counter = kson_writer_new();
  EXPECT_FALSE(kson_write_string(counter, &dummy, size_t{1} << 32));
  EXPECT_FALSE(kson_writer_put_count(counter, size_t{1} << 32));
  EXPECT_TRUE(kson_write_string(counter, &dummy, 0xFFFFFFFFu));
  EXPECT_EQ(size_t{5} + 0xFFFFFFFFu, kson_writer_size(counter));
  kson_writer_close(counter);
}

TEST(kson_writer, roots_take_any_number_of_values) {
  std::string out = written([](kson_writer_t* w) {
    for (int i = 0; i < 1000; ++i)
      if (!kson_write_nil(w)) return false;
    return true;
  });
  EXPECT_EQ(std::string(1000, 'Z'), out);
}

}  // namespace
