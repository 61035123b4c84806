#include "kson/kson_frame.h"

#include <gtest/gtest.h>

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
bool write_two_huge_strings(kson_writer_t* writer, void* data) {
  return kson_write_string(writer, static_cast<char const*>(data), 3000000000u) &&
         kson_write_string(writer, static_cast<char const*>(data), 3000000000u);
}

TEST(kson_frame, measured_then_filled_and_failures) {
  size_t size = 0;
  ASSERT_TRUE(kson_frame_size(&write_pair, nullptr, &size));
  std::string out(size, '\0');
  ASSERT_TRUE(kson_frame_write(&write_pair, nullptr, &out[0], size));
  EXPECT_EQ(bytes("0a 00 00 00 6f 01 49 01 00 00 00 73 01 'v'"), out);
  size = 77;
  static char const dummy = 0;  // the counting pass never reads the bytes
  EXPECT_FALSE(kson_frame_size(&write_nothing, nullptr, &size) || kson_frame_size(&write_fails, nullptr, &size) ||
               kson_frame_size(&write_two_huge_strings, const_cast<char*>(&dummy), &size));
  EXPECT_EQ(77u, size);
  EXPECT_FALSE(kson_frame_write(&write_fails, nullptr, &out[0], size));
}

// Each frame's first value as its bytes, or the parse's code when it failed.
bool collect(kson_parser_t* parser, void* values) {
  char const* start = parser->data;
  int rc = kson_parser_parse(parser, nullptr);
  static_cast<std::vector<std::string>*>(values)->push_back(rc == 0 ? std::string(start, parser->data)
                                                                    : "<" + std::to_string(rc) + ">");
  return true;
}

// The stream fed in pieces that end at the cuts.
std::vector<std::string> feed(std::string const& stream, std::vector<size_t> cuts) {
  std::vector<std::string> values;
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, &values);
  cuts.push_back(stream.size());
  for (size_t at = 0, i = 0; i < cuts.size(); at = cuts[i++])
    EXPECT_TRUE(kson_frame_reader_feed(reader, stream.data() + at, cuts[i] - at));
  kson_frame_reader_free(reader);
  return values;
}

TEST(kson_frame_reader, frames_split_at_every_byte_arrive_once_each) {
  std::string const body = bytes("6f 01 49 05 00 00 00 73 03 'abc'"), stream = frame(body);
  for (size_t cut = 0; cut <= stream.size(); ++cut) EXPECT_EQ(std::vector<std::string>{body}, feed(stream, {cut}));
  std::vector<size_t> every_byte;
  std::string const two = frame("T") + frame(bytes("42 09"));
  for (size_t i = 1; i < two.size(); ++i) every_byte.push_back(i);
  EXPECT_EQ((std::vector<std::string>{"T", bytes("42 09")}), feed(two, every_byte));
}

// Collects the value, then stops the feed.
struct stopping_t {
  kson_frame_reader_t* reader;
  std::vector<std::string> values;
};
bool collect_and_stop(kson_parser_t* parser, void* context) {
  auto* stopping = static_cast<stopping_t*>(context);
  kson_frame_reader_stop(stopping->reader);
  return collect(parser, &stopping->values);
}

TEST(kson_frame_reader, a_callback_stops_the_feed_after_its_frame_and_the_rest_is_fed_again) {
  // A partial header first, so that the first frame is put together byte-wise; the others lie whole.
  std::string const stream = frame("T") + frame(bytes("42 09")) + frame("F");
  stopping_t stopping{nullptr, {}};
  stopping.reader = kson_frame_reader_new(&collect_and_stop, &stopping);
  size_t used = 0, at = 2;
  EXPECT_TRUE(kson_frame_reader_feed_some(stopping.reader, stream.data(), at, &used) && used == at);
  std::vector<size_t> taken;
  while (at < stream.size() && kson_frame_reader_feed_some(stopping.reader, &stream[at], stream.size() - at, &used))
    taken.push_back(used), at += used;
  EXPECT_EQ((std::vector<size_t>{3, 6, 5}), taken);
  EXPECT_EQ((std::vector<std::string>{"T", bytes("42 09"), "F"}), stopping.values);
  kson_frame_reader_free(stopping.reader);
}

// Whole frames are parsed in place, partial ones through a body of their own: both roads.
TEST(kson_frame_reader, empty_frames_are_dropped_malformed_ones_still_delivered) {
  std::string const stream = le(0, 4) + frame("Z") + le(0, 4) + frame("X") + frame(bytes("73 09 'a'")) + frame("F");
  for (std::vector<size_t> const& cuts : {std::vector<size_t>{}, std::vector<size_t>{1, 5, 7, 12, 16, 17, 26}})
    EXPECT_EQ((std::vector<std::string>{"Z", "<4>", "<4>", "F"}), feed(stream, cuts));
  std::string const long_frame = bytes("02 01 00 00") + std::string(0x0102, 'T');  // 258 bytes
  EXPECT_EQ(std::vector<std::string>{}, feed(long_frame.substr(0, long_frame.size() - 1), {}));
  // A frame announcing 4 GiB holds no more than what came of it.
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, nullptr);
  EXPECT_TRUE(kson_frame_reader_feed(reader, "\377\377\377\377abcde", 9) && reader->body_capacity == 5);
  kson_frame_reader_free(reader);
}

}  // namespace
