#pragma once
// Golden bytes for the kson and VFS-module message tests.

#include <cstdint>
#include <string>

namespace kson_test {

// Hex bytes separated by blanks; a quoted word ('abc') stands for its own characters.
inline std::string bytes(std::string const& text) {
  std::string out;
  for (std::size_t at = 0, end; at < text.size(); ++at) {
    if (text[at] == '\'') {
      out += text.substr(at + 1, (end = text.find('\'', at + 1)) - at - 1);
      at = end;
    } else if (text[at] != ' ') {
      out.push_back(static_cast<char>(std::stoi(text.substr(at++, 2), nullptr, 16)));
    }
  }
  return out;
}

inline std::string le(uint64_t value, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

// A frame: the 4-byte length, then the body.
inline std::string frame(std::string const& body) { return le(body.size(), 4) + body; }

}  // namespace kson_test
