#include "kson/parser.h"
#include "tests/kson/kson_bytes.h"
#include "tests/vfs_link/vfs_link_fixture.h"

using kson_test::bytes;
using kson_test::frame;

namespace {

bool read_body(std::string const& body, sm_module_msg_t& msg) {
  kson::parser_t parser(body.data(), body.size());
  return msg.deserialize(parser);
}

// A pair: key n as I, then the value's bytes.
std::string pair(int key, std::string const& value) { return bytes("49") + kson_test::le(key, 4) + bytes(value); }

TEST(sm_module_msg, frames_are_byte_exact_and_read_back_alike) {
  sm_module_msg_t msg, back;
  msg.add_included_path("in"), msg.add_excluded_path("ex1"), msg.add_excluded_path("ex2");
  msg.type = 2, msg.tag = "t", msg.basedir = "/b", msg.serial = 0x01020304, msg.path = std::string(300, 'p');
  msg.user = "u", msg.domain = "d", msg.ip = "1.2.3.4", msg.has_dev = true, msg.ino = 0x1122334455667788ull;
  msg.has_ino = true, msg.op = 4, msg.verdict = 1;
  std::string const body = bytes("6f 0f") + pair(1, "49 02 00 00 00") + pair(2, "73 01 't'") + pair(3, "73 02 '/b'") +
                           pair(4, "49 04 03 02 01") + pair(5, "53 2c 01 00 00") + std::string(300, 'p') +
                           pair(6, "73 01 'u'") + pair(7, "73 01 'd'") + pair(8, "73 07 '1.2.3.4'") +
                           pair(9, "4c 00 00 00 00 00 00 00 00") + pair(10, "4c 88 77 66 55 44 33 22 11") +
                           pair(11, "49 04 00 00 00") + pair(12, "49 01 00 00 00") + pair(13, "73 03 'ex1'") +
                           pair(13, "73 03 'ex2'") + pair(14, "73 02 'in'");
  EXPECT_EQ(frame(body), frame_of(msg));
  // Long forms read alike; a repeated key's last value wins, path lists grow in order; bytes after the object stay.
  ASSERT_TRUE(read_body(bytes("4f 07 00 00 00") + pair(4, "49 03 00 00 00") + pair(5, "73 01 'x'") +
                            pair(5, "53 02 00 00 00 '/y'") + pair(13, "73 01 'a'") + pair(14, "73 01 'z'") +
                            pair(13, "73 01 'b'") + pair(13, "73 01 'c'") + "garbage",
                        back));
  EXPECT_EQ(frame(bytes("6f 06") + pair(4, "49 03 00 00 00") + pair(5, "73 02 '/y'") + pair(13, "73 01 'a'") +
                  pair(13, "73 01 'b'") + pair(13, "73 01 'c'") + pair(14, "73 01 'z'")),
            frame_of(back));
  // A message read again starts from a cleared one.
  ASSERT_TRUE(read_body(body, back));
  EXPECT_EQ(frame(body), frame_of(back));
  back.clear();
  EXPECT_EQ(frame(bytes("6f 00")), frame_of(back));
}

TEST(sm_module_msg, reader_accepts_and_rejects) {
  // One pair, key and value: a value out of range or of another type than the key's is refused.
  // clang-format off
  std::pair<int, char const*> const accepted[] = {
      {1, "49 04 00 00 00"}, {11, "49 04 00 00 00"}, {12, "49 02 00 00 00"}, {4, "49 ff ff ff ff"},
      {15, "'Z'"}};  // keys above 14 are skipped
  std::pair<int, char const*> const refused[] = {
      {0, "49 01 00 00 00"}, {1, "49 05 00 00 00"}, {1, "42 01"}, {11, "49 05 00 00 00"}, {12, "49 03 00 00 00"},
      {2, "49 01 00 00 00"}, {3, "'Z'"}, {4, "4c 01 00 00 00 00 00 00 00"}, {5, "61 00"}, {6, "'T'"},
      {7, "49 00 00 00 00"}, {8, "4c 00 00 00 00 00 00 00 00"}, {9, "49 01 00 00 00"}, {10, "49 01 00 00 00"},
      {13, "49 00 00 00 00"}, {14, "'Z'"}};
  // clang-format on
  std::vector<std::pair<std::string, bool>> rows = {
      {bytes("6f 01 42 01 49 01 00 00 00"), false},  // keys as B, i, string
      {bytes("6f 01 69 05 00 73 02 '/p'"), false},
      {bytes("6f 01 73 01 '5' 73 02 '/p'"), false},
      {bytes("6f 01 49 ff ff ff ff 61 01 'Z'"), true},
      {bytes("6f 02") + pair(2, "73 00") + pair(13, "73 00"), true},  // empty strings
      {bytes("61 01 49 01 00 00 00"), true},                          // no object at the top
      {bytes("49 03 00 00 00"), true},
      {"X", false},
      {bytes("6f 02") + pair(1, "49 01 00 00 00"), false},  // fewer pairs than announced
      {bytes("6f 02") + pair(1, "49 02 00 00 00") + pair(0, "'Z'"), false},
  };
  for (auto const& [key, value] : accepted) rows.emplace_back(bytes("6f 01") + pair(key, value), true);
  for (auto const& [key, value] : refused) rows.emplace_back(bytes("6f 01") + pair(key, value), false);
  for (auto const& [body, ok] : rows) {
    sm_module_msg_t msg;
    EXPECT_EQ(ok, read_body(body, msg)) << testing::PrintToString(body);
  }
}

}  // namespace
