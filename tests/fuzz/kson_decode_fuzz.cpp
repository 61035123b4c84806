// Arbitrary bytes through the decoder, its accessors and the VFS-module message reader. Every value
// that decodes encodes again, to as many bytes as the counting writer counted, and those decode
// to the same value.

#include <cstring>

#include "kson/kson_parser.h"
#include "kson/kson_writer.h"
#include "tests/fuzz/message_check.h"

namespace {

bool encode(kson_writer_t* writer, kson_node_t const* node) {
  uint8_t u8;
  int16_t i16;
  uint32_t u32;
  int64_t i64;
  if (kson_is_nil(node)) return kson_write_nil(writer);
  if (kson_is_bool(node)) return kson_write_bool(writer, node->marker == 'T');
  if (kson_get_uint8(node, &u8)) return kson_write_uint8(writer, u8);
  if (kson_get_int16(node, &i16)) return kson_write_int16(writer, i16);
  if (kson_get_uint32(node, &u32)) return kson_write_uint32(writer, u32);
  if (kson_get_int64(node, &i64)) return kson_write_int64(writer, i64);
  if (kson_is_string(node)) return kson_write_string(writer, node->data, node->count);
  bool const object = kson_is_object(node), big = node->marker == 'A' || node->marker == 'O';
  kson_writer_t* child = object ? kson_writer_open_object(writer, big) : kson_writer_open_array(writer, big);
  bool ok = child != nullptr;
  kson_node_t* item = nullptr;
  for (size_t i = 0; ok && i < node->count; ++i)
    ok = object ? kson_object_key(node, i, &item) && encode(child, item) && kson_object_value(node, i, &item) &&
                      encode(child, item)
                : kson_array_item(node, i, &item) && encode(child, item);
  return kson_writer_close(child) && ok;
}

// Alike up to the form of strings, which the writer picks by length.
bool alike(kson_node_t const* a, kson_node_t const* b) {
  if ((a->marker != b->marker && !(kson_is_string(a) && kson_is_string(b))) || a->count != b->count) return false;
  if (a->data) return !std::memcmp(a->data, b->data, a->count);
  for (size_t i = 0; i < a->count; ++i)
    if (!alike(a->values[i], b->values[i]) || (a->keys && !alike(a->keys[i], b->keys[i]))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size == 0) return 0;
  char const* input = reinterpret_cast<char const*>(data);
  kson_parser_t* parser = kson_parser_new(input, size);
  kson_node_t *root = nullptr, *copy = nullptr;
  int rc;
  while ((rc = kson_parser_parse(parser, &root)) == KSON_OK) {  // every value in the input in turn
    kson_writer_t* counter = kson_writer_new();
    FUZZ_CHECK(encode(counter, root));
    std::vector<char> out(kson_writer_size(counter) + 1);
    kson_writer_close(counter);
    kson_writer_t* writer = kson_writer_new_buffer(out.data(), out.size());
    FUZZ_CHECK(encode(writer, root) && kson_writer_size(writer) == out.size() - 1);
    kson_writer_close(writer);
    kson_parser_t* check = kson_parser_new(out.data(), out.size() - 1);
    FUZZ_CHECK(kson_parser_parse(check, &copy) == KSON_OK && alike(root, copy));
    kson_parser_free(check);
  }
  FUZZ_CHECK(rc == KSON_EMPTY || rc == KSON_MALFORMED);
  kson_parser_free(parser);
  kson::parser_t handle(input, size);
  fuzz_check_message(handle);
  return 0;
}
