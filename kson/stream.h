#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kson/kson_writer.h"

namespace kson {

// Handle of one kson writer: a root (counting or over a fixed buffer) or a child
// array/object of another stream.
class stream_t {
 public:
  // Counting root.
  stream_t();
  // Root over a caller's buffer.
  stream_t(void* buffer, size_t size);
  // Child container of parent: an object when object is true, else an array;
  // the long form when big is true.
  stream_t(stream_t& parent, bool object, bool big);
  ~stream_t();

  stream_t(stream_t const&) = delete;
  stream_t& operator=(stream_t const&) = delete;

  // Takes up a raw writer; the handle closes it unless it is detached first.
  explicit stream_t(kson_writer_t* attached) : writer_(attached) {}
  kson_writer_t* detach();
  kson_writer_t* writer() const { return writer_; }

  // Closes the writer (a container's count is written then); true when already closed.
  bool close();
  size_t size() const;
  uint32_t type() const;

  bool write_nil();
  bool write_bool(bool value);
  bool write_uint8(uint8_t value);
  bool write_uint16(uint16_t value);
  bool write_uint32(uint32_t value);
  bool write_uint64(uint64_t value);
  bool write_int8(int8_t value);
  bool write_int16(int16_t value);
  bool write_int32(int32_t value);
  bool write_int64(int64_t value);
  bool write_string(char const* data, size_t length);
  bool write_string(char const* text);
  bool write_string(std::string const& text);
  bool write_string(std::vector<char> const& bytes);

 private:
  kson_writer_t* writer_;
};

}  // namespace kson
