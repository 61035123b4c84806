#include "vfs_link/sm_module_msg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kson/parser.h"
#include "kson/stream.h"
#include "kson/transport_stream.h"
#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::le;
using kson_test::str;
using kson_test::u32;

namespace {

std::string frame_of(sm_module_msg_t const& msg) {
  std::vector<char> out;
  if (!kson::transport_stream_t::serialize(msg, out)) return "<failed>";
  return std::string(out.begin(), out.end());
}

// Reads a frame body; rejected messages come back with ok false.
struct read_t {
  bool ok;
  sm_module_msg_t msg;
};
read_t read_body(std::string const& body) {
  read_t r;
  kson::parser_t parser(body.data(), body.size());
  r.ok = r.msg.deserialize(parser);
  return r;
}

// One pair: a 32-bit key and a value already encoded.
std::string pair(uint32_t key, std::string const& value) { return u32(key) + value; }
std::string object(int pairs, std::string const& content) { return bytes({'o', pairs}) + content; }
std::string L(uint64_t value) { return "L" + le(value, 8); }

TEST(sm_module_msg, verdict_frame_is_byte_exact) {
  std::string expected = bytes({32, 0, 0, 0,    0x6F, 0x03, 0x49, 1, 0,    0,  0, 0x49, 3, 0,    0, 0, 0x49, 4,
                                0,  0, 0, 0x49, 7,    0,    0,    0, 0x49, 12, 0, 0,    0, 0x49, 2, 0, 0,    0});
  EXPECT_EQ(expected, frame_of(sm_module_msg_t::make_verdict(7, 2)));
}

TEST(sm_module_msg, share_settings_frames) {
  EXPECT_EQ(kson_test::frame(object(1, pair(1, u32(4)))), frame_of(sm_module_msg_t::make_share_settings()));

  sm_module_msg_t msg = sm_module_msg_t::make_share_settings();
  msg.add_included_path("in");
  msg.add_excluded_path("ex1");
  msg.add_excluded_path("ex2");
  EXPECT_EQ(
      kson_test::frame(object(4, pair(1, u32(4)) + pair(13, str("ex1")) + pair(13, str("ex2")) + pair(14, str("in")))),
      frame_of(msg));
}

TEST(sm_module_msg, every_field_in_key_order) {
  sm_module_msg_t msg;
  msg.type = 2;
  msg.tag = "t";
  msg.basedir = "/b";
  msg.serial = 0x01020304;
  msg.path = "/p";
  msg.user = "u";
  msg.domain = "d";
  msg.ip = "1.2.3.4";
  msg.dev = 0;
  msg.has_dev = true;
  msg.ino = 0x1122334455667788ull;
  msg.has_ino = true;
  msg.op = 4;
  msg.verdict = 1;
  std::string body =
      object(12, pair(1, u32(2)) + pair(2, str("t")) + pair(3, str("/b")) + pair(4, u32(0x01020304)) +
                     pair(5, str("/p")) + pair(6, str("u")) + pair(7, str("d")) + pair(8, str("1.2.3.4")) +
                     pair(9, L(0)) + pair(10, L(0x1122334455667788ull)) + pair(11, u32(4)) + pair(12, u32(1)));
  EXPECT_EQ(kson_test::frame(body), frame_of(msg));

  read_t r = read_body(body);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(2u, r.msg.type);
  EXPECT_EQ("t", r.msg.tag);
  EXPECT_EQ("/b", r.msg.basedir);
  EXPECT_EQ(0x01020304u, r.msg.serial);
  EXPECT_EQ("/p", r.msg.path);
  EXPECT_EQ("u", r.msg.user);
  EXPECT_EQ("d", r.msg.domain);
  EXPECT_EQ("1.2.3.4", r.msg.ip);
  EXPECT_TRUE(r.msg.has_dev);
  EXPECT_EQ(0u, r.msg.dev);
  EXPECT_TRUE(r.msg.has_ino);
  EXPECT_EQ(0x1122334455667788ull, r.msg.ino);
  EXPECT_EQ(4u, r.msg.op);
  EXPECT_EQ(1u, r.msg.verdict);
}

TEST(sm_module_msg, empty_message_is_an_empty_object) {
  EXPECT_EQ(kson_test::frame(bytes({'o', 0})), frame_of(sm_module_msg_t()));
  read_t r = read_body(bytes({'o', 0}));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(0u, r.msg.type);
  EXPECT_FALSE(r.msg.has_dev);
}

TEST(sm_module_msg, at_most_254_paths) {
  sm_module_msg_t msg = sm_module_msg_t::make_share_settings();
  for (int i = 0; i < 200; ++i) msg.add_excluded_path("e");
  for (int i = 0; i < 54; ++i) msg.add_included_path("i");
  std::string frame = frame_of(msg);
  ASSERT_NE("<failed>", frame);
  EXPECT_EQ(bytes({'o', 255}), frame.substr(4, 2));
  msg.add_included_path("one too many");
  std::vector<char> out{'k'};
  EXPECT_FALSE(kson::transport_stream_t::serialize(msg, out));
  EXPECT_EQ(std::vector<char>{'k'}, out);
}

TEST(sm_module_msg, parent_without_room_for_the_object_is_a_false_result) {
  sm_module_msg_t msg = sm_module_msg_t::make_verdict(1, 1);
  char byte = 0;
  kson::stream_t full(&byte, 1);
  ASSERT_TRUE(full.write_nil());
  EXPECT_FALSE(msg.serialize(full));
  kson::stream_t closed;
  closed.close();
  EXPECT_FALSE(msg.serialize(closed));
}

TEST(sm_module_msg, long_strings_and_long_forms_round_trip) {
  std::string long_path(300, 'p');
  sm_module_msg_t msg;
  msg.type = 2;
  msg.path = long_path;
  std::string frame = frame_of(msg);
  EXPECT_EQ(pair(5, "S" + le(300, 4) + long_path), frame.substr(4 + 2 + 10));
  // A long object with long strings reads alike.
  read_t r = read_body("O" + le(2, 4) + pair(5, "S" + le(300, 4) + long_path) + pair(13, "S" + le(1, 4) + "x"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(long_path, r.msg.path);
  EXPECT_EQ(std::vector<std::string>{"x"}, r.msg.excluded_paths);
}

struct reader_case {
  char const* name;
  std::string body;
  bool ok;
};

TEST(sm_module_msg, reader_accepts_and_rejects) {
  reader_case const cases[] = {
      {"key as B value", object(1, bytes({'B', 1}) + u32(1)), false},
      {"key as i value", object(1, bytes({'i', 5, 0}) + str("/p")), false},
      {"key as L value", object(1, L(5) + str("/p")), false},
      {"key as string", object(1, str("5") + str("/p")), false},
      {"key 0", object(1, pair(0, u32(1))), false},
      {"key 15 with nil", object(1, pair(15, "Z")), true},
      {"key 0xFFFFFFFF with array", object(1, pair(0xFFFFFFFFu, bytes({'a', 1, 'Z'}))), true},
      {"type 4", object(1, pair(1, u32(4))), true},
      {"type 5", object(1, pair(1, u32(5))), false},
      {"type as B", object(1, pair(1, bytes({'B', 1}))), false},
      {"op 4", object(1, pair(11, u32(4))), true},
      {"op 5", object(1, pair(11, u32(5))), false},
      {"verdict 0", object(1, pair(12, u32(0))), true},
      {"verdict 2", object(1, pair(12, u32(2))), true},
      {"verdict 3", object(1, pair(12, u32(3))), false},
      {"serial any", object(1, pair(4, u32(0xFFFFFFFFu))), true},
      {"serial as L", object(1, pair(4, L(1))), false},
      {"dev as I", object(1, pair(9, u32(1))), false},
      {"ino as I", object(1, pair(10, u32(1))), false},
      {"dev as L", object(1, pair(9, L(1))), true},
      {"tag as number", object(1, pair(2, u32(1))), false},
      {"basedir as nil", object(1, pair(3, "Z")), false},
      {"path as array", object(1, pair(5, bytes({'a', 0}))), false},
      {"user as bool", object(1, pair(6, "T")), false},
      {"domain as I", object(1, pair(7, u32(0))), false},
      {"ip as L", object(1, pair(8, L(0))), false},
      {"excluded path as I", object(1, pair(13, u32(0))), false},
      {"included path as nil", object(1, pair(14, "Z")), false},
      {"empty strings", object(2, pair(2, str("")) + pair(13, str(""))), true},
      {"top-level array", bytes({'a', 1}) + u32(1), true},
      {"top-level number", u32(3), true},
      {"undecodable body", "X", false},
      {"truncated object", object(2, pair(1, u32(1))), false},
      {"bad pair after a good one", object(2, pair(1, u32(2)) + pair(0, "Z")), false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.ok, read_body(c.body).ok);
  }
}

TEST(sm_module_msg, repeated_keys) {
  read_t r = read_body(object(6, pair(5, str("/first")) + pair(5, str("/second")) + pair(13, str("a")) +
                                     pair(14, str("z")) + pair(13, str("b")) + pair(13, str("c"))));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ("/second", r.msg.path);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), r.msg.excluded_paths);
  EXPECT_EQ(std::vector<std::string>{"z"}, r.msg.included_paths);
}

TEST(sm_module_msg, trailing_bytes_after_the_object_are_ignored) {
  read_t r = read_body(object(1, pair(4, u32(9))) + "garbage");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(9u, r.msg.serial);
}

TEST(sm_module_msg, deserialize_starts_from_a_cleared_message) {
  sm_module_msg_t msg = sm_module_msg_t::make_verdict(5, 1);
  msg.path = "/old";
  msg.has_dev = true;
  msg.add_excluded_path("x");
  std::string body = object(1, pair(4, u32(3)));
  kson::parser_t parser(body.data(), body.size());
  ASSERT_TRUE(msg.deserialize(parser));
  EXPECT_EQ(0u, msg.type);
  EXPECT_EQ(3u, msg.serial);
  EXPECT_EQ(0u, msg.verdict);
  EXPECT_TRUE(msg.path.empty());
  EXPECT_FALSE(msg.has_dev);
  EXPECT_TRUE(msg.excluded_paths.empty());
}

TEST(sm_module_msg, clear_and_copy) {
  sm_module_msg_t msg = sm_module_msg_t::make_share_settings();
  msg.add_excluded_path("e");
  msg.add_included_path("i");
  msg.ino = 4;
  msg.has_ino = true;
  sm_module_msg_t copy(msg);
  EXPECT_EQ(4u, copy.type);
  EXPECT_EQ(std::vector<std::string>{"e"}, copy.excluded_paths);
  EXPECT_EQ(std::vector<std::string>{"i"}, copy.included_paths);
  EXPECT_TRUE(copy.has_ino);
  msg.clear();
  EXPECT_EQ(kson_test::frame(bytes({'o', 0})), frame_of(msg));
  EXPECT_EQ(frame_of(copy),
            kson_test::frame(object(4, pair(1, u32(4)) + pair(10, L(4)) + pair(13, str("e")) + pair(14, str("i")))));
}

}  // namespace
