#include "kson/kson_writer.h"

#include <cstdlib>
#include <cstring>

namespace {

// malloc, not calloc: the heap's per-thread cache serves malloc only, and every
// frame written takes four writers.
kson_writer_t* new_writer(uint32_t kind) {
  auto* writer = static_cast<kson_writer_t*>(std::malloc(sizeof(kson_writer_t)));
  if (!writer) return nullptr;
  *writer = kson_writer_t{};
  writer->kind = kind;
  return writer;
}

kson_writer_t* root_of(kson_writer_t* writer) {
  while (writer->parent) writer = writer->parent;
  return writer;
}

void store_le(unsigned char* out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool write_marker(kson_writer_t* writer, char marker) { return kson_writer_put(writer, &marker, 1); }

bool write_scalar(kson_writer_t* writer, char marker, uint64_t value, size_t width) {
  unsigned char bytes[9];
  bytes[0] = static_cast<unsigned char>(marker);
  store_le(bytes + 1, value, width);
  // One put when both fit; otherwise marker and payload go separately, so that a payload
  // without room leaves the marker put, as always.
  bool put = kson_writer_put(writer, bytes, 1 + width) ||
             (kson_writer_put(writer, bytes, 1) && kson_writer_put(writer, bytes + 1, width));
  return put && kson_writer_count_item(writer);
}

kson_writer_t* open_container(kson_writer_t* parent, uint32_t kind, bool big) {
  if (!parent) return nullptr;
  kson_writer_t* child = new_writer(kind);
  if (!child) return nullptr;
  child->big = big ? 1 : 0;
  child->parent = parent;
  bool ok = write_marker(child, kind == KSON_WRITER_ARRAY ? (big ? 'A' : 'a') : (big ? 'O' : 'o'));
  if (ok) {
    kson_writer_t* root = root_of(child);
    child->count_slot = root->kind == KSON_WRITER_BUFFER ? root->cursor : nullptr;
    // A long placeholder must take 4 bytes, so it is put as a number that needs them.
    ok = kson_writer_put_count(child, big ? 256 : 0);
  }
  if (!ok) {
    std::free(child);
    return nullptr;
  }
  return child;
}

bool close_container(kson_writer_t* writer) {
  if (writer->count_slot) {
    size_t count = writer->item_count;
    if (writer->kind == KSON_WRITER_OBJECT) {
      if (count % 2 != 0) return false;
      count /= 2;
    }
    if (writer->big) {
      if (count > UINT32_MAX) return false;
      store_le(writer->count_slot, count, 4);
    } else {
      if (count > 255) return false;
      writer->count_slot[0] = static_cast<unsigned char>(count);
    }
  }
  // A parent that refuses the container would otherwise announce fewer values than it holds.
  return kson_writer_count_item(writer->parent);
}

}  // namespace

kson_writer_t* kson_writer_new() { return new_writer(KSON_WRITER_COUNTER); }

kson_writer_t* kson_writer_new_buffer(void* buffer, size_t size) {
  if (!buffer || size == 0) return nullptr;
  kson_writer_t* writer = new_writer(KSON_WRITER_BUFFER);
  if (!writer) return nullptr;
  writer->start = static_cast<unsigned char*>(buffer);
  writer->capacity = size;
  writer->cursor = writer->start;
  writer->remaining = size;
  return writer;
}

kson_writer_t* kson_writer_open_array(kson_writer_t* parent, bool big) {
  return open_container(parent, KSON_WRITER_ARRAY, big);
}

kson_writer_t* kson_writer_open_object(kson_writer_t* parent, bool big) {
  return open_container(parent, KSON_WRITER_OBJECT, big);
}

bool kson_writer_close(kson_writer_t* writer) {
  if (!writer) return false;
  bool ok = true;
  if (writer->kind == KSON_WRITER_ARRAY || writer->kind == KSON_WRITER_OBJECT) ok = close_container(writer);
  std::free(writer);
  return ok;
}

size_t kson_writer_size(kson_writer_t const* writer) {
  if (!writer) return 0;
  if (writer->kind == KSON_WRITER_COUNTER) return writer->counted;
  if (writer->kind == KSON_WRITER_BUFFER) return static_cast<size_t>(writer->cursor - writer->start);
  return 0;
}

uint32_t kson_writer_type(kson_writer_t const* writer) { return writer ? writer->kind : KSON_WRITER_NONE; }

bool kson_writer_put(kson_writer_t* writer, void const* bytes, size_t size) {
  if (!writer) return false;
  kson_writer_t* root = root_of(writer);
  if (root->kind == KSON_WRITER_COUNTER) {
    if (size > SIZE_MAX - root->counted) return false;
    root->counted += size;
    return true;
  }
  if (root->kind != KSON_WRITER_BUFFER || root->remaining < size) return false;
  // Markers, counts and numbers are put a few bytes at a time: copied inline, not by a call.
  auto const* from = static_cast<unsigned char const*>(bytes);
  switch (size) {
    case 0:
      break;
    case 1:
      root->cursor[0] = from[0];
      break;
    case 4:
      std::memcpy(root->cursor, from, 4);
      break;
    case 8:
      std::memcpy(root->cursor, from, 8);
      break;
    default:
      std::memcpy(root->cursor, from, size);
  }
  root->cursor += size;
  root->remaining -= size;
  return true;
}

bool kson_writer_put_count(kson_writer_t* writer, size_t n) {
  unsigned char bytes[4];
  if (n < 256) {
    bytes[0] = static_cast<unsigned char>(n);
    return kson_writer_put(writer, bytes, 1);
  }
  if (n > UINT32_MAX) return false;
  store_le(bytes, n, 4);
  return kson_writer_put(writer, bytes, 4);
}

bool kson_writer_count_item(kson_writer_t* writer) {
  if (!writer) return false;
  switch (writer->kind) {
    case KSON_WRITER_COUNTER:
    case KSON_WRITER_BUFFER:
      return true;
    case KSON_WRITER_ARRAY:
    case KSON_WRITER_OBJECT: {
      // The count is raised even when refused, so that closing the container fails too.
      size_t limit = writer->big ? size_t{UINT32_MAX} : size_t{255};
      if (writer->kind == KSON_WRITER_OBJECT) limit *= 2;
      if (writer->item_count <= limit) ++writer->item_count;
      return writer->item_count <= limit;
    }
    default:
      return false;
  }
}

bool kson_write_nil(kson_writer_t* writer) { return write_marker(writer, 'Z') && kson_writer_count_item(writer); }

bool kson_write_bool(kson_writer_t* writer, bool value) {
  return write_marker(writer, value ? 'T' : 'F') && kson_writer_count_item(writer);
}

bool kson_write_uint8(kson_writer_t* writer, uint8_t value) { return write_scalar(writer, 'B', value, 1); }
bool kson_write_int8(kson_writer_t* writer, int8_t value) {
  return write_scalar(writer, 'B', static_cast<uint8_t>(value), 1);
}
bool kson_write_uint16(kson_writer_t* writer, uint16_t value) { return write_scalar(writer, 'i', value, 2); }
bool kson_write_int16(kson_writer_t* writer, int16_t value) {
  return write_scalar(writer, 'i', static_cast<uint16_t>(value), 2);
}
bool kson_write_uint32(kson_writer_t* writer, uint32_t value) { return write_scalar(writer, 'I', value, 4); }
bool kson_write_int32(kson_writer_t* writer, int32_t value) {
  return write_scalar(writer, 'I', static_cast<uint32_t>(value), 4);
}
bool kson_write_uint64(kson_writer_t* writer, uint64_t value) { return write_scalar(writer, 'L', value, 8); }
bool kson_write_int64(kson_writer_t* writer, int64_t value) {
  return write_scalar(writer, 'L', static_cast<uint64_t>(value), 8);
}

bool kson_write_string(kson_writer_t* writer, char const* data, size_t length) {
  // A length beyond 32 bits is refused rather than cut.
  if ((!data && length) || length > UINT32_MAX) return false;
  return write_marker(writer, length < 256 ? 's' : 'S') && kson_writer_put_count(writer, length) &&
         kson_writer_put(writer, data, length) && kson_writer_count_item(writer);
}

bool kson_write_cstring(kson_writer_t* writer, char const* text) {
  if (!text) return false;
  return kson_write_string(writer, text, std::strlen(text));
}
