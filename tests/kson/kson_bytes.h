#pragma once
// Byte-building helpers shared by the kson and VFS-module message tests.

#include <cstdint>
#include <initializer_list>
#include <string>

#include "kson/kson_writer.h"

namespace kson_test {

inline std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

inline std::string le(uint64_t value, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

// An I value.
inline std::string u32(uint32_t value) { return "I" + le(value, 4); }
// A short string value.
inline std::string str(std::string const& text) { return "s" + le(text.size(), 1) + text; }
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
