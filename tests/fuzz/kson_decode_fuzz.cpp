// Arbitrary bytes through the decoder, the value accessors, the object wrappers
// and the VFS-module message reader; what decodes must encode back to a value
// that decodes alike.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kson/kson_parser.h"
#include "kson/kson_writer.h"
#include "kson/parser.h"
#include "kson/reader.h"
#include "tests/fuzz/message_check.h"

namespace {

bool encode(kson_writer_t* writer, kson_node_t const* node) {
  uint8_t u8;
  int16_t i16;
  uint32_t u32;
  int64_t i64;
  char const* data = nullptr;
  size_t size = 0;
  if (kson_is_nil(node)) return kson_write_nil(writer);
  if (kson_is_bool(node)) return kson_write_bool(writer, node->marker == 'T');
  if (kson_get_uint8(node, &u8)) return kson_write_uint8(writer, u8);
  if (kson_get_int16(node, &i16)) return kson_write_int16(writer, i16);
  if (kson_get_uint32(node, &u32)) return kson_write_uint32(writer, u32);
  if (kson_get_int64(node, &i64)) return kson_write_int64(writer, i64);
  if (kson_is_string(node))
    return kson_string_data(node, &data) && kson_string_size(node, &size) && kson_write_string(writer, data, size);
  bool object = kson_is_object(node);
  bool big = node->marker == 'A' || node->marker == 'O';
  kson_writer_t* child = object ? kson_writer_open_object(writer, big) : kson_writer_open_array(writer, big);
  if (!child) return false;
  bool ok = true;
  for (size_t i = 0; ok && i < node->count; ++i) {
    kson_node_t* item = nullptr;
    if (object) {
      ok = kson_object_key(node, i, &item) && encode(child, item) && kson_object_value(node, i, &item) &&
           encode(child, item);
    } else {
      ok = kson_array_item(node, i, &item) && encode(child, item);
    }
  }
  return kson_writer_close(child) && ok;
}

// Alike up to the form of strings, which the writer picks by length.
bool alike(kson_node_t const* a, kson_node_t const* b) {
  if (kson_is_string(a)) {
    return kson_is_string(b) && a->count == b->count && (a->count == 0 || !std::memcmp(a->data, b->data, a->count));
  }
  if (a->marker != b->marker || a->count != b->count) return false;
  if (a->data && std::memcmp(a->data, b->data, a->count)) return false;
  if (kson_is_array(a) || kson_is_object(a)) {
    for (size_t i = 0; i < a->count; ++i) {
      if (!alike(a->values[i], b->values[i])) return false;
      if (kson_is_object(a) && !alike(a->keys[i], b->keys[i])) return false;
    }
  }
  return true;
}

void walk(kson::value_t const& value, unsigned depth) {
  FUZZ_CHECK(depth <= KSON_MAX_DEPTH);
  std::string text;
  FUZZ_CHECK(value.get_string(text) == value.is_string());
  uint64_t u64 = 0;
  FUZZ_CHECK(value.get_uint64(u64) == (value.type() == 'L'));
  for (size_t i = 0; i < value.size(); ++i) {
    kson::value_t child;
    if (value.is_array()) {
      FUZZ_CHECK(value.item(i, child));
      walk(child, depth + 1);
    } else {
      FUZZ_CHECK(value.key(i, child));
      walk(child, depth + 1);
      FUZZ_CHECK(value.value(i, child));
      walk(child, depth + 1);
    }
  }
  kson::value_t out;
  FUZZ_CHECK(!value.item(value.size(), out) && !value.key(value.size(), out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size == 0) return 0;
  char const* input = reinterpret_cast<char const*>(data);

  // Core decoder: every value in the input, one after another.
  kson_parser_t* parser = kson_parser_new(input, size);
  FUZZ_CHECK(parser);
  for (;;) {
    char const* start = parser->data;
    kson_node_t* root = nullptr;
    int rc = kson_parser_parse(parser, &root);
    FUZZ_CHECK(rc == 0 || rc == 1 || rc == 4);
    if (rc != 0) break;
    size_t consumed = static_cast<size_t>(parser->data - start);
    FUZZ_CHECK(consumed > 0);

    kson_writer_t* counter = kson_writer_new();
    bool counted = encode(counter, root);
    size_t need = kson_writer_size(counter);
    kson_writer_close(counter);
    std::vector<char> out(need + 1);
    kson_writer_t* writer = kson_writer_new_buffer(out.data(), out.size());
    bool written = encode(writer, root);
    // Whatever decodes fits the forms it came in, so it always encodes again.
    FUZZ_CHECK(counted && written);
    {
      FUZZ_CHECK(kson_writer_size(writer) == need);
      kson_parser_t* check = kson_parser_new(out.data(), need);
      kson_node_t* copy = nullptr;
      FUZZ_CHECK(kson_parser_parse(check, &copy) == 0);
      FUZZ_CHECK(alike(root, copy));
      kson_parser_free(check);
    }
    kson_writer_close(writer);
  }
  kson_parser_free(parser);

  // Wrappers: the value tree and the pairs of the top object.
  {
    kson::parser_t handle(input, size);
    kson::value_t root;
    if (handle.parse(root)) walk(root, 0);
  }
  {
    kson::parser_t handle(input, size);
    kson::reader_t reader(handle);
    kson::object_iterator_t it;
    if (reader.begin(it)) {
      size_t pairs = 0;
      while (it.next()) {
        ++pairs;
        it.key_uint32();
        it.value().type();
      }
      FUZZ_CHECK(pairs == (it.object().is_object() ? it.object().size() : 0));
    }
  }
  {
    kson::parser_t handle(input, size);
    fuzz_check_message(handle);
  }
  return 0;
}
