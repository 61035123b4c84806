#include "kson/kson_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

uint64_t load_le(char const* data, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= uint64_t{static_cast<unsigned char>(data[i])} << (8 * i);
  return value;
}

// Nodes and tables come from the owning parser's arena while it has room, else
// from the heap; without an owner (a value decoded on its own) always from the heap.
constexpr size_t arena_align = alignof(kson_node_t);
static_assert(KSON_PARSER_ARENA % arena_align == 0, "the arena is filled in aligned steps");

void* take(kson_parser_t* owner, size_t bytes) {
  // What remains is a multiple of the alignment, so the rounded size fits too.
  if (owner && bytes <= KSON_PARSER_ARENA - owner->arena_used) {
    void* block = owner->arena + owner->arena_used;
    owner->arena_used += (bytes + arena_align - 1) / arena_align * arena_align;
    return block;
  }
  if (owner) owner->spilled = true;
  return std::malloc(bytes);
}

void give_back(kson_parser_t const* owner, void* block) {
  auto const at = reinterpret_cast<uintptr_t>(block);
  auto const arena = owner ? reinterpret_cast<uintptr_t>(owner->arena) : 0;
  if (!owner || at < arena || at >= arena + KSON_PARSER_ARENA) std::free(block);
}

kson_node_t* new_node(kson_parser_t* owner, uint32_t marker) {
  auto* node = static_cast<kson_node_t*>(take(owner, sizeof(kson_node_t)));
  if (node) *node = kson_node_t{marker, 0, nullptr, nullptr, nullptr};
  return node;
}

kson_node_t** new_table(kson_parser_t* owner, size_t n) {
  // The count is bounded by the remaining input, so n * sizeof cannot overflow;
  // checked anyway.
  if (n > SIZE_MAX / sizeof(kson_node_t*)) return nullptr;
  auto** table = static_cast<kson_node_t**>(take(owner, n * sizeof(kson_node_t*)));
  if (table) std::fill_n(table, n, nullptr);
  return table;
}

void free_tree(kson_parser_t const* owner, kson_node_t* node) {
  // A tree wholly in its parser's arena goes with the arena.
  if (!node || (owner && !owner->spilled)) return;
  // Tables are filled in order and stay null past a failure.
  for (size_t i = 0; i < node->count; ++i) {
    if (node->keys) free_tree(owner, node->keys[i]);
    if (node->values) free_tree(owner, node->values[i]);
  }
  give_back(owner, node->keys);
  give_back(owner, node->values);
  give_back(owner, node);
}

int decode_value(kson_cursor_t* cursor, kson_node_t** out, unsigned depth, kson_parser_t* owner);

bool is_container(uint32_t marker) { return marker == 'a' || marker == 'A' || marker == 'o' || marker == 'O'; }

template <typename T>
bool get_integer(kson_node_t const* node, uint32_t marker, T* out) {
  // The marker fixes the payload's width, which the decoder has checked.
  if (!node || node->marker != marker) return false;
  if (out) *out = static_cast<T>(load_le(node->data, sizeof(T)));
  return true;
}

int decode_container(kson_cursor_t* cursor, kson_node_t* node, unsigned depth, kson_parser_t* owner) {
  if (depth >= KSON_MAX_DEPTH) return KSON_MALFORMED;
  bool object = node->marker == 'o' || node->marker == 'O';
  size_t n = 0;
  if (!kson_read_count(cursor, node->marker, &n)) return KSON_MALFORMED;
  // Every value takes at least one byte, so a count beyond what remains cannot be
  // met; refusing it here keeps a short frame from allocating huge tables.
  if (n > (object ? cursor->size / 2 : cursor->size)) return KSON_MALFORMED;
  node->count = n;
  if (n == 0) return KSON_OK;
  node->values = new_table(owner, n);
  if (!node->values) return KSON_NO_MEMORY;
  if (object) {
    node->keys = new_table(owner, n);
    if (!node->keys) return KSON_NO_MEMORY;
  }
  for (size_t i = 0; i < n; ++i) {
    if (object) {
      int rc = decode_value(cursor, &node->keys[i], depth + 1, owner);
      if (rc != KSON_OK) return rc;
    }
    int rc = decode_value(cursor, &node->values[i], depth + 1, owner);
    if (rc != KSON_OK) return rc;
  }
  return KSON_OK;
}

}  // namespace

bool kson_read_count(kson_cursor_t* cursor, uint32_t marker, size_t* out) {
  size_t width = (marker == 'A' || marker == 'O' || marker == 'S') ? 4 : 1;
  if (cursor->size < width) return false;
  *out = static_cast<size_t>(load_le(cursor->data, width));
  cursor->data += width;
  cursor->size -= width;
  return true;
}

void kson_node_free(kson_node_t* node) { free_tree(nullptr, node); }

int kson_decode_value(kson_cursor_t* cursor, kson_node_t** out, unsigned depth) {
  return decode_value(cursor, out, depth, nullptr);
}

namespace {

int decode_value(kson_cursor_t* cursor, kson_node_t** out, unsigned depth, kson_parser_t* owner) {
  if (cursor->size == 0) return KSON_MALFORMED;
  uint32_t marker = static_cast<unsigned char>(cursor->data[0]);
  size_t width = 0;
  switch (marker) {
    case 'Z':
    case 'T':
    case 'F':
      break;
    case 'B':
      width = 1;
      break;
    case 'i':
      width = 2;
      break;
    case 'I':
      width = 4;
      break;
    case 'L':
      width = 8;
      break;
    case 's':
    case 'S':
    case 'a':
    case 'A':
    case 'o':
    case 'O':
      break;
    default:
      return KSON_MALFORMED;
  }
  ++cursor->data;
  --cursor->size;
  kson_node_t* node = new_node(owner, marker);
  if (!node) return KSON_NO_MEMORY;
  int rc = KSON_OK;
  if (width) {
    if (cursor->size < width) {
      rc = KSON_MALFORMED;
    } else {
      node->count = width;
      node->data = cursor->data;
      cursor->data += width;
      cursor->size -= width;
    }
  } else if (marker == 's' || marker == 'S') {
    size_t length = 0;
    if (!kson_read_count(cursor, marker, &length) || length > cursor->size) {
      rc = KSON_MALFORMED;
    } else {
      node->count = length;
      node->data = cursor->data;
      cursor->data += length;
      cursor->size -= length;
    }
  } else if (is_container(marker)) {
    rc = decode_container(cursor, node, depth, owner);
  }
  if (rc != KSON_OK) {
    free_tree(owner, node);
    return rc;
  }
  *out = node;
  return KSON_OK;
}

}  // namespace

kson_parser_t* kson_parser_new(char const* data, size_t size) {
  if (!data || size == 0) return nullptr;
  auto* parser = static_cast<kson_parser_t*>(std::malloc(sizeof(kson_parser_t)));
  if (!parser) return nullptr;
  parser->data = data;
  parser->size = size;
  parser->root = nullptr;
  parser->arena_used = 0;
  parser->spilled = false;
  return parser;
}

int kson_parser_parse(kson_parser_t* parser, kson_node_t** root) {
  if (!parser || !parser->data) return KSON_NO_DATA;
  if (parser->size == 0) return KSON_EMPTY;
  free_tree(parser, parser->root);
  parser->root = nullptr;
  parser->arena_used = 0;  // nothing lives in it now
  parser->spilled = false;
  // The cursor moves only past a value that decoded.
  kson_cursor_t cursor{parser->data, parser->size};
  kson_node_t* node = nullptr;
  int rc = decode_value(&cursor, &node, 0, parser);
  if (rc != KSON_OK) return rc;
  parser->data = cursor.data;
  parser->size = cursor.size;
  parser->root = node;
  if (root) *root = node;
  return KSON_OK;
}

void kson_parser_free(kson_parser_t* parser) {
  if (!parser) return;
  free_tree(parser, parser->root);
  std::free(parser);
}

char kson_value_type(kson_node_t const* node) { return node ? static_cast<char>(node->marker) : 'E'; }
bool kson_is_nil(kson_node_t const* node) { return node && node->marker == 'Z'; }
bool kson_is_bool(kson_node_t const* node) { return node && (node->marker == 'T' || node->marker == 'F'); }
bool kson_is_string(kson_node_t const* node) { return node && (node->marker == 's' || node->marker == 'S'); }
bool kson_is_array(kson_node_t const* node) { return node && (node->marker == 'a' || node->marker == 'A'); }
bool kson_is_object(kson_node_t const* node) { return node && (node->marker == 'o' || node->marker == 'O'); }

bool kson_get_bool(kson_node_t const* node, bool* out) {
  if (!kson_is_bool(node)) return false;
  if (out) *out = node->marker == 'T';
  return true;
}

bool kson_get_uint8(kson_node_t const* node, uint8_t* out) { return get_integer(node, 'B', out); }
bool kson_get_int8(kson_node_t const* node, int8_t* out) { return get_integer(node, 'B', out); }
bool kson_get_uint16(kson_node_t const* node, uint16_t* out) { return get_integer(node, 'i', out); }
bool kson_get_int16(kson_node_t const* node, int16_t* out) { return get_integer(node, 'i', out); }
bool kson_get_uint32(kson_node_t const* node, uint32_t* out) { return get_integer(node, 'I', out); }
bool kson_get_int32(kson_node_t const* node, int32_t* out) { return get_integer(node, 'I', out); }
bool kson_get_uint64(kson_node_t const* node, uint64_t* out) { return get_integer(node, 'L', out); }
bool kson_get_int64(kson_node_t const* node, int64_t* out) { return get_integer(node, 'L', out); }

bool kson_string_size(kson_node_t const* node, size_t* out) {
  if (!kson_is_string(node)) return false;
  if (out) *out = node->count;
  return true;
}

bool kson_string_data(kson_node_t const* node, char const** out) {
  if (!kson_is_string(node)) return false;
  if (out) *out = node->data;
  return true;
}

bool kson_array_size(kson_node_t const* node, size_t* out) {
  if (!kson_is_array(node)) return false;
  if (out) *out = node->count;
  return true;
}

bool kson_object_size(kson_node_t const* node, size_t* out) {
  if (!kson_is_object(node)) return false;
  if (out) *out = node->count;
  return true;
}

bool kson_array_item(kson_node_t const* node, size_t i, kson_node_t** out) {
  if (!kson_is_array(node) || i >= node->count) return false;
  if (out) *out = node->values[i];
  return true;
}

bool kson_object_key(kson_node_t const* node, size_t i, kson_node_t** out) {
  if (!kson_is_object(node) || i >= node->count) return false;
  if (out) *out = node->keys[i];
  return true;
}

bool kson_object_value(kson_node_t const* node, size_t i, kson_node_t** out) {
  if (!kson_is_object(node) || i >= node->count) return false;
  if (out) *out = node->values[i];
  return true;
}
