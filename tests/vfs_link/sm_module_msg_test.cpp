#include "vfs_link/sm_module_msg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kson/parser.h"
#include "kson/stream.h"
#include "kson/transport_stream.h"
#include "tests/kson/kson_bytes.h"

using kson_test::bytes;
using kson_test::frame;

namespace {

std::string frame_of(sm_module_msg_t const& msg) {
  std::vector<char> out;
  if (!kson::transport_stream_t::serialize(msg, out)) return "<failed>";
  return std::string(out.begin(), out.end());
}

bool read_body(std::string const& body, sm_module_msg_t& msg) {
  kson::parser_t parser(body.data(), body.size());
  return msg.deserialize(parser);
}

// A pair: key n as I, then the value's bytes.
std::string pair(int key, std::string const& value) { return bytes("49") + kson_test::le(key, 4) + bytes(value); }

TEST(sm_module_msg, frames_are_byte_exact_and_read_back_alike) {
  std::string const verdict = frame_of(sm_module_msg_t::make_verdict(7, 2));
  EXPECT_EQ(bytes("20 00 00 00 6f 03 49 01 00 00 00 49 03 00 00 00 49 04 00 00 00 49 07 00 00 00 49 0c 00 00 00 "
                  "49 02 00 00 00"),
            verdict);
  sm_module_msg_t settings = sm_module_msg_t::make_share_settings();
  EXPECT_EQ(frame(bytes("6f 01") + pair(1, "49 04 00 00 00")), frame_of(settings));
  settings.add_included_path("in");
  settings.add_excluded_path("ex1");
  settings.add_excluded_path("ex2");
  EXPECT_EQ(frame(bytes("6f 04") + pair(1, "49 04 00 00 00") + pair(13, "73 03 'ex1'") + pair(13, "73 03 'ex2'") +
                  pair(14, "73 02 'in'")),
            frame_of(settings));

  sm_module_msg_t msg;
  msg.type = 2;
  msg.tag = "t";
  msg.basedir = "/b";
  msg.serial = 0x01020304;
  msg.path = std::string(300, 'p');
  msg.user = "u";
  msg.domain = "d";
  msg.ip = "1.2.3.4";
  msg.has_dev = true;
  msg.ino = 0x1122334455667788ull;
  msg.has_ino = true;
  msg.op = 4;
  msg.verdict = 1;
  std::string const body = bytes("6f 0c") + pair(1, "49 02 00 00 00") + pair(2, "73 01 't'") + pair(3, "73 02 '/b'") +
                           pair(4, "49 04 03 02 01") + pair(5, "53 2c 01 00 00") + std::string(300, 'p') +
                           pair(6, "73 01 'u'") + pair(7, "73 01 'd'") + pair(8, "73 07 '1.2.3.4'") +
                           pair(9, "4c 00 00 00 00 00 00 00 00") + pair(10, "4c 88 77 66 55 44 33 22 11") +
                           pair(11, "49 04 00 00 00") + pair(12, "49 01 00 00 00");
  EXPECT_EQ(frame(body), frame_of(msg));
  // Read back into a message that held other values: it starts from a cleared one.
  sm_module_msg_t back = settings;
  ASSERT_TRUE(read_body(body, back));
  EXPECT_EQ(frame(body), frame_of(back));
  ASSERT_TRUE(read_body(bytes("4f 02 00 00 00") + pair(4, "49 03 00 00 00") + pair(13, "53 01 00 00 00 'x'"), back));
  EXPECT_EQ(frame(bytes("6f 02") + pair(4, "49 03 00 00 00") + pair(13, "73 01 'x'")), frame_of(back));
  back.clear();
  EXPECT_EQ(frame(bytes("6f 00")), frame_of(back));
}

TEST(sm_module_msg, at_most_254_paths_and_a_parent_without_room) {
  sm_module_msg_t msg = sm_module_msg_t::make_share_settings();
  for (int i = 0; i < 254; ++i) (i < 200 ? msg.add_excluded_path("e") : msg.add_included_path("i"));
  EXPECT_EQ(bytes("6f ff"), frame_of(msg).substr(4, 2));
  msg.add_included_path("one too many");
  std::vector<char> out{'k'};
  EXPECT_FALSE(kson::transport_stream_t::serialize(msg, out));
  EXPECT_EQ(std::vector<char>{'k'}, out);
  char byte = 0;
  kson::stream_t full(&byte, 1);
  ASSERT_TRUE(full.write_nil());
  EXPECT_FALSE(sm_module_msg_t::make_verdict(1, 1).serialize(full));
}

TEST(sm_module_msg, reader_accepts_and_rejects) {
  struct row_t {
    std::string body;
    bool ok;
  };
  auto const one = [](std::string const& pair_bytes) { return bytes("6f 01") + pair_bytes; };
  for (row_t const& row : std::vector<row_t>{
           {bytes("6f 01 42 01 49 01 00 00 00"), false},    // key as B
           {bytes("6f 01 69 05 00 73 02 '/p'"), false},     // key as i
           {bytes("6f 01 73 01 '5' 73 02 '/p'"), false},    // key as string
           {one(pair(0, "49 01 00 00 00")), false},         // key 0
           {one(pair(15, "'Z'")), true},                    // unknown keys are skipped
           {one(bytes("49 ff ff ff ff 61 01 'Z'")), true},  //
           {one(pair(1, "49 04 00 00 00")), true},
           {one(pair(1, "49 05 00 00 00")), false},  // type
           {one(pair(1, "42 01")), false},
           {one(pair(11, "49 04 00 00 00")), true},  // op
           {one(pair(11, "49 05 00 00 00")), false},
           {one(pair(12, "49 02 00 00 00")), true},  // verdict
           {one(pair(12, "49 03 00 00 00")), false},
           {one(pair(4, "49 ff ff ff ff")), true},  // serial
           {one(pair(4, "4c 01 00 00 00 00 00 00 00")), false},
           {one(pair(9, "49 01 00 00 00")), false},
           {one(pair(10, "49 01 00 00 00")), false},  // dev, ino
           {one(pair(2, "49 01 00 00 00")), false},
           {one(pair(3, "'Z'")), false},  // strings
           {one(pair(5, "61 00")), false},
           {one(pair(6, "'T'")), false},
           {one(pair(7, "49 00 00 00 00")), false},
           {one(pair(8, "4c 00 00 00 00 00 00 00 00")), false},
           {one(pair(13, "49 00 00 00 00")), false},
           {one(pair(14, "'Z'")), false},
           {bytes("6f 02") + pair(2, "73 00") + pair(13, "73 00"), true},  // empty strings
           {bytes("61 01 49 01 00 00 00"), true},
           {bytes("49 03 00 00 00"), true},  // no object at the top
           {"X", false},
           {bytes("6f 02") + pair(1, "49 01 00 00 00"), false},
           {bytes("6f 02") + pair(1, "49 02 00 00 00") + pair(0, "'Z'"), false},
       }) {
    sm_module_msg_t msg;
    EXPECT_EQ(row.ok, read_body(row.body, msg)) << testing::PrintToString(row.body);
  }
}

TEST(sm_module_msg, repeated_keys_and_trailing_bytes) {
  sm_module_msg_t msg;
  ASSERT_TRUE(read_body(bytes("6f 06") + pair(5, "73 06 '/first'") + pair(5, "73 07 '/second'") +
                            pair(13, "73 01 'a'") + pair(14, "73 01 'z'") + pair(13, "73 01 'b'") +
                            pair(13, "73 01 'c'") + "garbage",
                        msg));
  EXPECT_EQ("/second", msg.path);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), msg.excluded_paths);
  EXPECT_EQ(std::vector<std::string>{"z"}, msg.included_paths);
}

}  // namespace
