#pragma once

// The one-line texts the stand-in prints for messages and paths.

#include <string>

#include <google/protobuf/message.h>

class stub_text_t {
 public:
  // The message's tag name, then " name=value" for every other field set, in field-number
  // order: text and bytes quoted, enums by name, nested messages in short text format in braces.
  static std::string describe(google::protobuf::Message const& message);
  // In double quotes; a quote, a backslash and every byte outside printable ASCII escaped
  // (\" \\ \n \t \xHH), so that a line stays one line whatever the bytes.
  static std::string quote(std::string const& bytes);
};
