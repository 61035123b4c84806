#pragma once
// Writer sinks of the kson encoding: a counting root, a fixed-buffer root and
// array/object containers whose counts are back-patched into the root's buffer.

#include <cstddef>
#include <cstdint>

enum : uint32_t {
  KSON_WRITER_COUNTER = 0,
  KSON_WRITER_BUFFER = 1,
  KSON_WRITER_ARRAY = 2,
  KSON_WRITER_OBJECT = 3,
  KSON_WRITER_NONE = 4,  // the kind reported for a null writer
};

struct kson_writer_t {
  uint32_t kind;
  uint8_t big;
  size_t item_count;
  kson_writer_t* parent;
  unsigned char* count_slot;
  // counter root
  size_t counted;
  // buffer root
  unsigned char* start;
  size_t capacity;
  unsigned char* cursor;
  size_t remaining;
};

kson_writer_t* kson_writer_new();
kson_writer_t* kson_writer_new_buffer(void* buffer, size_t size);
kson_writer_t* kson_writer_open_array(kson_writer_t* parent, bool big);
kson_writer_t* kson_writer_open_object(kson_writer_t* parent, bool big);
bool kson_writer_close(kson_writer_t* writer);
size_t kson_writer_size(kson_writer_t const* writer);
uint32_t kson_writer_type(kson_writer_t const* writer);

bool kson_write_nil(kson_writer_t* writer);
bool kson_write_bool(kson_writer_t* writer, bool value);
bool kson_write_uint8(kson_writer_t* writer, uint8_t value);
bool kson_write_int8(kson_writer_t* writer, int8_t value);
bool kson_write_uint16(kson_writer_t* writer, uint16_t value);
bool kson_write_int16(kson_writer_t* writer, int16_t value);
bool kson_write_uint32(kson_writer_t* writer, uint32_t value);
bool kson_write_int32(kson_writer_t* writer, int32_t value);
bool kson_write_uint64(kson_writer_t* writer, uint64_t value);
bool kson_write_int64(kson_writer_t* writer, int64_t value);
bool kson_write_string(kson_writer_t* writer, char const* data, size_t length);
bool kson_write_cstring(kson_writer_t* writer, char const* text);

// Building blocks of the writers above.
bool kson_writer_put(kson_writer_t* writer, void const* bytes, size_t size);
bool kson_writer_put_count(kson_writer_t* writer, size_t n);
bool kson_writer_count_item(kson_writer_t* writer);
