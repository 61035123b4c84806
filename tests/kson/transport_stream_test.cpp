// Frames in and out of a transport stream, and the writer handle that serializes into them.
#include "kson/transport_stream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kson/stream.h"
#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::frame;

namespace {

class recording_stream_t : public kson::transport_stream_t {
 public:
  void on_message(kson::parser_t& parser) override {
    kson::value_t root;
    uint32_t number = 0;
    seen.push_back(parser.parse(root) && root.get_uint32(number) ? static_cast<int>(number) : -1);
    if (seen.size() == throw_at) throw std::runtime_error("stop");
  }
  std::vector<int> seen;
  size_t throw_at = 0;
};

std::vector<char> chars(std::string const& s) { return std::vector<char>(s.begin(), s.end()); }

// An array of n nils; odd writes an object with a key and no value, which only the measuring pass takes.
class nils_t : public kson::serializable_t {
 public:
  explicit nils_t(int n, bool odd = false) : n(n), odd(odd) {}
  bool serialize(kson::stream_t& parent) const override {
    kson::stream_t child(parent, odd, false);
    for (int i = 0; i < n; ++i)
      if (!child.write_nil()) return false;
    return child.close();
  }
  bool deserialize(kson::parser_t&) override { return false; }
  int n;
  bool odd;
};

std::string const stream = frame(bytes("49 01 00 00 00")) + bytes("00 00 00 00") + frame(bytes("49 02 00 00 00")) +
                           frame("X") + frame(bytes("49 03 00 00 00"));

TEST(kson_transport_stream, frames_reach_on_message_in_order) {
  recording_stream_t s;
  EXPECT_TRUE(s.process(chars(stream.substr(0, 7))));
  EXPECT_TRUE(s.seen.empty());
  EXPECT_TRUE(s.process(chars(stream.substr(7))));
  EXPECT_EQ((std::vector<int>{1, 2, -1, 3}), s.seen);
  EXPECT_TRUE(s.process({}));
}

TEST(kson_transport_stream, an_exception_from_on_message_leaves_process_only_the_leak_sanitizer_sees_a_lost_frame) {
  recording_stream_t thrower;
  thrower.throw_at = 1;
  EXPECT_THROW(thrower.process(chars(stream)), std::runtime_error);
  EXPECT_EQ((std::vector<int>{1}), thrower.seen);
}

TEST(kson_transport_stream, serialize_appends_one_frame_or_leaves_the_output_as_it_was) {
  std::vector<char> out{'x'};
  ASSERT_TRUE(kson::transport_stream_t::serialize(nils_t(2), out));
  EXPECT_EQ("x" + frame(bytes("61 02 'ZZ'")), std::string(out.begin(), out.end()));
  for (nils_t const& refused : {nils_t(256), nils_t(1, true)}) {
    EXPECT_FALSE(kson::transport_stream_t::serialize(refused, out));
    EXPECT_EQ(1u + 8u, out.size());
  }
}

TEST(kson_stream, a_child_closes_with_its_count_and_creation_failures_throw) {
  std::string buffer(16, '\0');
  kson::stream_t root(&buffer[0], buffer.size());
  {
    kson::stream_t array(root, false, true);  // closed by its destructor
    EXPECT_TRUE(array.write_string(std::string("s")));
  }
  EXPECT_EQ(bytes("41 01 00 00 00 73 01 's'"), buffer.substr(0, root.size()));
  EXPECT_THROW(kson::stream_t(nullptr, 4), std::runtime_error);
  kson::stream_t closed;
  closed.close();
  EXPECT_FALSE(closed.write_nil());
  EXPECT_THROW(kson::stream_t(closed, false, false), std::runtime_error);
}

}  // namespace
