#include "kson/stream.h"

#include <stdexcept>

namespace kson {

namespace {

kson_writer_t* created(kson_writer_t* writer) {
  if (!writer) throw std::runtime_error("failed to create stream");
  return writer;
}

}  // namespace

stream_t::stream_t() : writer_(created(kson_writer_new())) {}

stream_t::stream_t(void* buffer, size_t size) : writer_(created(kson_writer_new_buffer(buffer, size))) {}

stream_t::stream_t(stream_t& parent, bool object, bool big)
    : writer_(created(object ? kson_writer_open_object(parent.writer_, big)
                             : kson_writer_open_array(parent.writer_, big))) {}

stream_t::~stream_t() { close(); }

kson_writer_t* stream_t::detach() {
  kson_writer_t* writer = writer_;
  writer_ = nullptr;
  return writer;
}

bool stream_t::close() {
  if (!writer_) return true;
  return kson_writer_close(detach());
}

size_t stream_t::size() const { return kson_writer_size(writer_); }
uint32_t stream_t::type() const { return kson_writer_type(writer_); }

bool stream_t::write_nil() { return kson_write_nil(writer_); }
bool stream_t::write_bool(bool value) { return kson_write_bool(writer_, value); }
bool stream_t::write_uint8(uint8_t value) { return kson_write_uint8(writer_, value); }
bool stream_t::write_uint16(uint16_t value) { return kson_write_uint16(writer_, value); }
bool stream_t::write_uint32(uint32_t value) { return kson_write_uint32(writer_, value); }
bool stream_t::write_uint64(uint64_t value) { return kson_write_uint64(writer_, value); }
bool stream_t::write_int8(int8_t value) { return kson_write_int8(writer_, value); }
bool stream_t::write_int16(int16_t value) { return kson_write_int16(writer_, value); }
bool stream_t::write_int32(int32_t value) { return kson_write_int32(writer_, value); }
bool stream_t::write_int64(int64_t value) { return kson_write_int64(writer_, value); }
bool stream_t::write_string(char const* data, size_t length) { return kson_write_string(writer_, data, length); }
bool stream_t::write_string(char const* text) { return kson_write_cstring(writer_, text); }
bool stream_t::write_string(std::string const& text) { return kson_write_string(writer_, text.data(), text.size()); }
bool stream_t::write_string(std::vector<char> const& bytes) {
  return kson_write_string(writer_, bytes.data(), bytes.size());
}

}  // namespace kson
