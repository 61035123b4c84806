#include "kson/kson_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::frame;
using kson_test::le;

namespace {

bool write_pair(kson_writer_t* writer, void*) {
  kson_writer_t* o = kson_writer_open_object(writer, false);
  return kson_write_uint32(o, 1) && kson_write_cstring(o, "v") && kson_writer_close(o);
}
bool write_nothing(kson_writer_t*, void*) { return true; }
bool write_fails(kson_writer_t* writer, void*) { return kson_write_nil(writer) && false; }
// Counts the pass it is in; writes an odd object, which only the buffer pass refuses.
bool write_odd_object(kson_writer_t* writer, void* calls) {
  ++*static_cast<int*>(calls);
  kson_writer_t* o = kson_writer_open_object(writer, false);
  return kson_write_nil(o) && kson_writer_close(o);
}
bool write_two_huge_strings(kson_writer_t* writer, void* data) {
  return kson_write_string(writer, static_cast<char const*>(data), 3000000000u) &&
         kson_write_string(writer, static_cast<char const*>(data), 3000000000u);
}

TEST(kson_frame, measured_then_filled_and_failures) {
  std::string const expected = bytes("0a 00 00 00 6f 01 49 01 00 00 00 73 01 'v'");
  size_t size = 0;
  ASSERT_TRUE(kson_frame_size(&write_pair, nullptr, &size));
  std::string out(size, '\0');
  ASSERT_TRUE(kson_frame_write(&write_pair, nullptr, &out[0], size));
  EXPECT_EQ(expected, out);
  void* made = kson_frame_new(&write_pair, nullptr, &size);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(expected, std::string(static_cast<char*>(made), size));
  std::free(made);

  size = 77;
  static char const dummy = 0;  // the counting pass never reads the bytes
  EXPECT_FALSE(kson_frame_size(&write_nothing, nullptr, &size) || kson_frame_size(&write_fails, nullptr, &size) ||
               kson_frame_size(nullptr, nullptr, &size) ||
               kson_frame_size(&write_two_huge_strings, const_cast<char*>(&dummy), &size));
  EXPECT_EQ(77u, size);
  char buffer[8];
  EXPECT_FALSE(kson_frame_write(&write_pair, nullptr, buffer, 4) ||
               kson_frame_write(&write_pair, nullptr, nullptr, 8) ||
               kson_frame_write(&write_fails, nullptr, buffer, 8) || kson_frame_new(&write_nothing, nullptr, &size));
  int calls = 0;  // the counting pass accepts the odd object; the buffer pass refuses it
  EXPECT_EQ(nullptr, kson_frame_new(&write_odd_object, &calls, &size));
  EXPECT_EQ(2, calls);
}

// Each frame's first value as its bytes, or the parse's code when it failed.
struct collected {
  std::vector<std::string> values;
};

bool collect(kson_parser_t* parser, void* context) {
  char const* start = parser->data;
  int rc = kson_parser_parse(parser, nullptr);
  static_cast<collected*>(context)->values.push_back(rc == 0 ? std::string(start, parser->data)
                                                             : "<" + std::to_string(rc) + ">");
  return true;
}

std::vector<std::string> feed(std::string const& stream, std::vector<size_t> const& cuts) {
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  size_t at = 0;
  for (size_t cut : cuts) {
    EXPECT_TRUE(kson_frame_reader_feed(reader, stream.data() + at, cut - at));
    at = cut;
  }
  EXPECT_TRUE(kson_frame_reader_feed(reader, stream.data() + at, stream.size() - at));
  kson_frame_reader_free(reader);
  return c.values;
}

TEST(kson_frame_reader, frame_split_at_every_byte_gives_one_callback) {
  std::string const body = bytes("6f 01 49 05 00 00 00 73 03 'abc'"), stream = frame(body);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    EXPECT_EQ(std::vector<std::string>{body}, feed(stream, {cut})) << cut;
  }
  std::vector<size_t> every_byte;
  std::string const two = frame("T") + frame(bytes("42 09"));
  for (size_t i = 1; i < two.size(); ++i) every_byte.push_back(i);
  EXPECT_EQ((std::vector<std::string>{"T", bytes("42 09")}), feed(two, every_byte));
}

TEST(kson_frame_reader, empty_and_malformed_frames_and_the_little_endian_length) {
  std::string const stream = le(0, 4) + frame("Z") + le(0, 4) + frame("X") + frame(bytes("73 09 'a'")) + frame("F");
  EXPECT_EQ((std::vector<std::string>{"Z", "<4>", "<4>", "F"}), feed(stream, {}));
  std::string const long_frame = bytes("02 01 00 00") + std::string(0x0102, 'T');  // 258 bytes
  EXPECT_EQ(std::vector<std::string>{}, feed(long_frame.substr(0, long_frame.size() - 1), {}));
  EXPECT_EQ(std::vector<std::string>{"T"}, feed(long_frame, {long_frame.size() - 1}));
}

TEST(kson_frame_reader, arguments_and_no_callback) {
  EXPECT_FALSE(kson_frame_reader_feed(nullptr, "a", 1));
  kson_frame_reader_t* silent = kson_frame_reader_new(nullptr, nullptr);  // frames consumed and dropped
  EXPECT_FALSE(kson_frame_reader_feed(silent, nullptr, 1));
  EXPECT_TRUE(kson_frame_reader_feed(silent, nullptr, 0));
  std::string const stream = frame("Z");
  EXPECT_TRUE(kson_frame_reader_feed(silent, stream.data(), stream.size()));
  EXPECT_EQ(nullptr, silent->body);
  kson_frame_reader_free(silent);
}

TEST(kson_frame_reader, partial_body_is_freed_with_the_reader_only_the_leak_sanitizer_sees_it) {
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, nullptr);
  std::string const partial = le(100, 4) + "abc";
  ASSERT_TRUE(kson_frame_reader_feed(reader, partial.data(), partial.size()));
  EXPECT_EQ(3u, reader->body_received);
  kson_frame_reader_free(reader);
}

}  // namespace
