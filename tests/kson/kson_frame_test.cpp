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

TEST(kson_frame, size_and_write_measure_then_fill) {
  std::string body = bytes({'o', 1}) + kson_test::u32(1) + "s\x01v";
  size_t size = 0;
  ASSERT_TRUE(kson_frame_size(&write_pair, nullptr, &size));
  EXPECT_EQ(4 + body.size(), size);
  std::string out(size, '\0');
  ASSERT_TRUE(kson_frame_write(&write_pair, nullptr, &out[0], size));
  EXPECT_EQ(frame(body), out);

  size_t new_size = 0;
  void* made = kson_frame_new(&write_pair, nullptr, &new_size);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(frame(body), std::string(static_cast<char*>(made), new_size));
  std::free(made);
}

TEST(kson_frame, failures) {
  size_t size = 77;
  EXPECT_FALSE(kson_frame_size(&write_nothing, nullptr, &size));  // empty body
  EXPECT_FALSE(kson_frame_size(&write_fails, nullptr, &size));
  EXPECT_FALSE(kson_frame_size(nullptr, nullptr, &size));
  EXPECT_EQ(77u, size);
  char out[8];
  EXPECT_FALSE(kson_frame_write(&write_pair, nullptr, out, 4));
  EXPECT_FALSE(kson_frame_write(&write_pair, nullptr, nullptr, 8));
  EXPECT_FALSE(kson_frame_write(&write_fails, nullptr, out, 8));
  EXPECT_EQ(nullptr, kson_frame_new(&write_nothing, nullptr, &size));

  // The counting pass accepts the odd object; the buffer pass refuses it.
  int calls = 0;
  EXPECT_TRUE(kson_frame_size(&write_odd_object, &calls, &size));
  EXPECT_EQ(4u + 3u, size);
  calls = 0;
  EXPECT_EQ(nullptr, kson_frame_new(&write_odd_object, &calls, &size));
  EXPECT_EQ(2, calls);
}

bool write_two_huge_strings(kson_writer_t* writer, void* data) {
  char const* bytes = static_cast<char const*>(data);
  return kson_write_string(writer, bytes, 3000000000u) && kson_write_string(writer, bytes, 3000000000u);
}

TEST(kson_frame, body_beyond_the_length_field_fails) {
  static char const dummy = 0;
  size_t size = 0;
  EXPECT_FALSE(kson_frame_size(&write_two_huge_strings, const_cast<char*>(&dummy), &size));
}

struct collected {
  std::vector<std::string> values;  // each frame's first value as its bytes
  std::vector<int> codes;
};

bool collect(kson_parser_t* parser, void* context) {
  auto* c = static_cast<collected*>(context);
  char const* start = parser->data;
  int rc = kson_parser_parse(parser, nullptr);
  c->codes.push_back(rc);
  c->values.push_back(rc == 0 ? std::string(start, parser->data) : std::string());
  return true;
}

TEST(kson_frame_reader, frame_split_at_every_byte_gives_one_callback) {
  std::string body = bytes({'o', 1}) + kson_test::u32(5) +
                     "s\x03"
                     "abc";
  std::string stream = frame(body);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    collected c;
    kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
    ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data(), cut));
    EXPECT_TRUE(c.values.empty() || cut == stream.size());
    ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data() + cut, stream.size() - cut));
    ASSERT_EQ(1u, c.values.size());
    EXPECT_EQ(body, c.values[0]);
    kson_frame_reader_free(reader);
  }
}

TEST(kson_frame_reader, one_byte_per_feed) {
  std::string stream = frame("T") + frame(bytes({'B', 9}));
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  for (char byte : stream) ASSERT_TRUE(kson_frame_reader_feed(reader, &byte, 1));
  EXPECT_EQ((std::vector<std::string>{"T", bytes({'B', 9})}), c.values);
  kson_frame_reader_free(reader);
}

TEST(kson_frame_reader, two_frames_and_empty_frames_in_one_feed) {
  std::string stream = le(0, 4) + frame("Z") + le(0, 4) + le(0, 4) + frame("F") + le(0, 4);
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data(), stream.size()));
  EXPECT_EQ((std::vector<std::string>{"Z", "F"}), c.values);
  kson_frame_reader_free(reader);
}

TEST(kson_frame_reader, malformed_body_reaches_the_callback_and_the_stream_goes_on) {
  std::string stream = frame("X") + frame(bytes({'s', 9, 'a'})) + frame("T");
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data(), stream.size()));
  EXPECT_EQ((std::vector<int>{4, 4, 0}), c.codes);
  kson_frame_reader_free(reader);
}

TEST(kson_frame_reader, partial_body_is_freed_with_the_reader) {
  std::string stream = le(100, 4) + "abc";
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data(), stream.size()));
  EXPECT_NE(nullptr, reader->body);
  EXPECT_EQ(3u, reader->body_received);
  kson_frame_reader_free(reader);  // the leak checker of the sanitizer build watches this
  EXPECT_TRUE(c.values.empty());
}

TEST(kson_frame_reader, feed_arguments) {
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  EXPECT_FALSE(kson_frame_reader_feed(nullptr, "a", 1));
  EXPECT_FALSE(kson_frame_reader_feed(reader, nullptr, 1));
  EXPECT_TRUE(kson_frame_reader_feed(reader, nullptr, 0));
  kson_frame_reader_free(reader);

  // Without a callback frames are consumed and dropped.
  kson_frame_reader_t* silent = kson_frame_reader_new(nullptr, nullptr);
  std::string stream = frame("Z");
  EXPECT_TRUE(kson_frame_reader_feed(silent, stream.data(), stream.size()));
  EXPECT_EQ(nullptr, silent->body);
  EXPECT_EQ(0u, silent->length_bytes);
  kson_frame_reader_free(silent);
}

TEST(kson_frame_reader, length_is_little_endian) {
  std::string body(0x0102, 'x');
  body[0] = 'S';  // any bytes will do; only the callback count matters
  std::string stream = bytes({0x02, 0x01, 0, 0}) + body;
  collected c;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &c);
  ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data(), stream.size() - 1));
  EXPECT_TRUE(c.codes.empty());
  ASSERT_TRUE(kson_frame_reader_feed(reader, stream.data() + stream.size() - 1, 1));
  EXPECT_EQ(1u, c.codes.size());
  kson_frame_reader_free(reader);
}

}  // namespace
