// Small helpers shared by the schema tests.
#pragma once

#include <gtest/gtest.h>

#include <google/protobuf/message.h>
#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace proto_test {

using google::protobuf::Message;

inline std::string wire(std::initializer_list<unsigned> bytes) {
  std::string out;
  for (unsigned b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

inline std::string varint(uint64_t v) {
  std::string out;
  for (; v >= 0x80; v >>= 7) out.push_back(static_cast<char>((v & 0x7f) | 0x80));
  out.push_back(static_cast<char>(v));
  return out;
}

// Wire types: 0 varint, 2 length-delimited.
inline std::string key(int number, int wire_type) {
  return varint((static_cast<uint64_t>(number) << 3) | static_cast<unsigned>(wire_type));
}

// Hex text, so that a mismatch shows where the bytes part.
inline std::string hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) out += {digits[c >> 4], digits[c & 15], ' '};
  return out;
}

// A message of the prototype's type from its text form; required fields may be left out.
inline std::unique_ptr<Message> from_text(const Message& prototype, const std::string& text) {
  std::unique_ptr<Message> m(prototype.New());
  google::protobuf::TextFormat::Parser parser;
  parser.AllowPartialMessage(true);
  EXPECT_TRUE(parser.ParseFromString(text, m.get())) << text;
  return m;
}

// The only unknown field of the message is this varint.
inline void expect_single_unknown_varint(const Message& m, int number, uint64_t value) {
  const auto& unknown = m.GetReflection()->GetUnknownFields(m);
  ASSERT_EQ(unknown.field_count(), 1);
  EXPECT_EQ(unknown.field(0).number(), number);
  ASSERT_EQ(unknown.field(0).type(), google::protobuf::UnknownField::TYPE_VARINT);
  EXPECT_EQ(unknown.field(0).varint(), value);
}

// The bytes do not parse as a whole, but partially, lacking exactly `missing`.
inline void expect_unparsable(Message& m, const std::string& bytes, const std::string& missing) {
  google::protobuf::LogSilencer quiet;  // the failed parse logs otherwise
  EXPECT_FALSE(m.ParseFromString(bytes));
  ASSERT_TRUE(m.ParsePartialFromString(bytes));
  EXPECT_EQ(m.InitializationErrorString(), missing);
}

// A message that lacks `missing` and therefore fails as a whole once serialized.
inline void expect_incomplete(const Message& m, const std::string& missing) {
  EXPECT_FALSE(m.IsInitialized());
  EXPECT_EQ(m.InitializationErrorString(), missing);
  std::unique_ptr<Message> parsed(m.New());
  expect_unparsable(*parsed, m.SerializePartialAsString(), missing);
}

}  // namespace proto_test
