#include "kson/transport_stream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kson/stream.h"
#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::frame;
using kson_test::le;

namespace {

class recording_stream_t : public kson::transport_stream_t {
 public:
  void on_message(kson::parser_t& parser) override {
    kson::value_t root;
    bool ok = parser.parse(root);
    uint32_t number = 0;
    root.get_uint32(number);
    seen.push_back(ok ? static_cast<int>(number) : -1);
    if (throw_at && seen.size() == throw_at) throw std::runtime_error("stop");
  }
  std::vector<int> seen;
  size_t throw_at = 0;
};

std::vector<char> chars(std::string const& s) { return std::vector<char>(s.begin(), s.end()); }

// Writes a short array of n nils.
class nils_t : public kson::serializable_t {
 public:
  explicit nils_t(int n) : n_(n) {}
  bool serialize(kson::stream_t& parent) const override {
    kson::stream_t array(parent, false, false);
    for (int i = 0; i < n_; ++i)
      if (!array.write_nil()) return false;
    return array.close();
  }
  bool deserialize(kson::parser_t&) override { return false; }

 private:
  int n_;
};

// An object with a key and no value: the measuring pass takes it, the writing pass does not.
class odd_object_t : public kson::serializable_t {
 public:
  bool serialize(kson::stream_t& parent) const override {
    kson::stream_t object(parent, true, false);
    return object.write_uint32(1) && object.close();
  }
  bool deserialize(kson::parser_t&) override { return false; }
};

TEST(kson_transport_stream, frames_reach_on_message_in_order) {
  recording_stream_t s;
  std::string stream = frame(kson_test::u32(1)) + le(0, 4) + frame(kson_test::u32(2)) + frame("X");
  EXPECT_TRUE(s.process(chars(stream.substr(0, 7))));
  EXPECT_TRUE(s.seen.empty());
  EXPECT_TRUE(s.process(chars(stream.substr(7))));
  EXPECT_EQ((std::vector<int>{1, 2, -1}), s.seen);
  EXPECT_TRUE(s.process({}));
}

TEST(kson_transport_stream, exception_from_on_message_leaves_process_without_leaks) {
  recording_stream_t s;
  s.throw_at = 1;
  std::string stream = frame(kson_test::u32(1)) + frame(kson_test::u32(2));
  EXPECT_THROW(s.process(chars(stream)), std::runtime_error);
  EXPECT_EQ((std::vector<int>{1}), s.seen);
}

TEST(kson_transport_stream, serialize_appends_one_frame) {
  std::vector<char> out{'x'};
  ASSERT_TRUE(kson::transport_stream_t::serialize(nils_t(2), out));
  EXPECT_EQ("x" + frame(bytes({'a', 2, 'Z', 'Z'})), std::string(out.begin(), out.end()));
}

TEST(kson_transport_stream, failed_serialize_leaves_the_output_as_it_was) {
  std::vector<char> out{'x', 'y'};
  EXPECT_FALSE(kson::transport_stream_t::serialize(nils_t(256), out));
  EXPECT_EQ((std::vector<char>{'x', 'y'}), out);
  EXPECT_FALSE(kson::transport_stream_t::serialize(odd_object_t(), out));
  EXPECT_EQ((std::vector<char>{'x', 'y'}), out);
  ASSERT_TRUE(kson::transport_stream_t::serialize(nils_t(255), out));
  EXPECT_EQ(2u + 4u + 2u + 255u, out.size());
}

}  // namespace
