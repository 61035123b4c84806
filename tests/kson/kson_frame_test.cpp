#include "kson/kson_frame.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kson/stream.h"
#include "kson/transport_stream.h"
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

// Whole frames are parsed in place, partial ones through a body of their own: both roads.
TEST(kson_frame_reader, empty_frames_are_dropped_malformed_ones_still_delivered) {
  std::string const stream = le(0, 4) + frame("Z") + le(0, 4) + frame("X") + frame(bytes("73 09 'a'")) + frame("F");
  for (std::vector<size_t> const& cuts : {std::vector<size_t>{}, std::vector<size_t>{1, 5, 7, 12, 16, 17, 26}})
    EXPECT_EQ((std::vector<std::string>{"Z", "<4>", "<4>", "F"}), feed(stream, cuts));
  std::string const long_frame = bytes("02 01 00 00") + std::string(0x0102, 'T');  // 258 bytes
  EXPECT_EQ(std::vector<std::string>{}, feed(long_frame.substr(0, long_frame.size() - 1), {}));
}

TEST(kson_frame_reader, partial_body_is_freed_with_the_reader_only_the_leak_sanitizer_sees_it) {
  kson_frame_reader_t* reader = kson_frame_reader_new(&collect, nullptr);
  std::string const partial = le(100, 4) + "abc";
  ASSERT_TRUE(kson_frame_reader_feed(reader, partial.data(), partial.size()));
  EXPECT_EQ(3u, reader->body_received);
  kson_frame_reader_free(reader);
}

struct throwing_stream_t : kson::transport_stream_t {
  void on_message(kson::parser_t&) override {
    ++seen;
    throw std::runtime_error("stop");
  }
  int seen = 0;
};

TEST(kson_transport_stream, an_exception_from_on_message_leaves_process_only_the_leak_sanitizer_sees_a_lost_frame) {
  throwing_stream_t s;
  std::string const stream = le(100, 4) + std::string(100, 'Z') + frame("T");  // the first in a body of its own
  EXPECT_TRUE(s.process(std::vector<char>(stream.begin(), stream.begin() + 50)));
  EXPECT_THROW(s.process(std::vector<char>(stream.begin() + 50, stream.end())), std::runtime_error);
  EXPECT_EQ(1, s.seen);
}

// An object with a key and no value: the measuring pass takes it, the writing pass does not.
struct odd_object_t : kson::serializable_t {
  bool serialize(kson::stream_t& parent) const override {
    kson::stream_t object(parent, true, false);
    return object.write_nil() && object.close();
  }
  bool deserialize(kson::parser_t&) override { return false; }
};

TEST(kson_transport_stream, serialize_refused_in_the_writing_pass_leaves_the_output_as_it_was) {
  std::vector<char> out{'x'};
  EXPECT_FALSE(kson::transport_stream_t::serialize(odd_object_t(), out));
  EXPECT_EQ(std::vector<char>{'x'}, out);
}

}  // namespace
