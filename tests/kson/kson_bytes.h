#pragma once
// Golden bytes for the kson and VFS-module message tests.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "kson/kson_writer.h"

namespace kson_test {

// Hex bytes separated by blanks; a quoted word ('abc') stands for its own characters.
inline std::string bytes(std::string const& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == ' ') continue;
    if (text[at] == '\'') {
      std::size_t const end = text.find('\'', at + 1);
      out += text.substr(at + 1, end - at - 1);
      at = end;
    } else {
      out.push_back(static_cast<char>(std::strtoul(text.substr(at, 2).c_str(), nullptr, 16)));
      ++at;
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

// Runs write on a buffer root and returns the bytes written, or "<failed>".
template <typename Write>
std::string written(Write write, size_t capacity = 4096) {
  std::string buffer(capacity, '\0');
  kson_writer_t* root = kson_writer_new_buffer(&buffer[0], buffer.size());
  bool ok = write(root);
  buffer.resize(kson_writer_size(root));
  kson_writer_close(root);
  return ok ? buffer : std::string("<failed>");
}

}  // namespace kson_test
