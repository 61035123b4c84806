#pragma once
// Decoder of the kson encoding: turns an input buffer into a tree of nodes that
// point into the input (nothing is copied), and typed accessors on the nodes.

#include <cstddef>
#include <cstdint>

enum : int {
  KSON_OK = 0,
  KSON_EMPTY = 1,    // nothing left at the cursor
  KSON_NO_DATA = 2,  // no parser, or the parser has no data
  KSON_NO_MEMORY = 3,
  KSON_MALFORMED = 4,  // malformed, truncated or nested too deep
};

// At most this many arrays and objects may enclose one another; deeper input is
// rejected, so that hostile input cannot exhaust the stack.
constexpr unsigned KSON_MAX_DEPTH = 64;

struct kson_node_t {
  uint32_t marker;
  size_t count;
  char const* data;
  kson_node_t** keys;
  kson_node_t** values;
};

// Room inside the parser for the nodes and tables of a small tree, so that a
// small frame costs one allocation, not one per value; larger trees go on to the heap.
constexpr size_t KSON_PARSER_ARENA = 984;

struct kson_parser_t {
  char const* data;
  size_t size;
  kson_node_t* root;
  size_t arena_used;
  bool spilled;  // some of the tree is on the heap, so freeing it walks the tree
  alignas(kson_node_t) unsigned char arena[KSON_PARSER_ARENA];
};

kson_parser_t* kson_parser_new(char const* data, size_t size);
int kson_parser_parse(kson_parser_t* parser, kson_node_t** root);
void kson_parser_free(kson_parser_t* parser);

char kson_value_type(kson_node_t const* node);
bool kson_is_nil(kson_node_t const* node);
bool kson_is_bool(kson_node_t const* node);
bool kson_is_string(kson_node_t const* node);
bool kson_is_array(kson_node_t const* node);
bool kson_is_object(kson_node_t const* node);

bool kson_get_bool(kson_node_t const* node, bool* out);
bool kson_get_uint8(kson_node_t const* node, uint8_t* out);
bool kson_get_int8(kson_node_t const* node, int8_t* out);
bool kson_get_uint16(kson_node_t const* node, uint16_t* out);
bool kson_get_int16(kson_node_t const* node, int16_t* out);
bool kson_get_uint32(kson_node_t const* node, uint32_t* out);
bool kson_get_int32(kson_node_t const* node, int32_t* out);
bool kson_get_uint64(kson_node_t const* node, uint64_t* out);
bool kson_get_int64(kson_node_t const* node, int64_t* out);

bool kson_string_size(kson_node_t const* node, size_t* out);
bool kson_string_data(kson_node_t const* node, char const** out);
bool kson_array_size(kson_node_t const* node, size_t* out);
bool kson_object_size(kson_node_t const* node, size_t* out);
bool kson_array_item(kson_node_t const* node, size_t i, kson_node_t** out);
bool kson_object_key(kson_node_t const* node, size_t i, kson_node_t** out);
bool kson_object_value(kson_node_t const* node, size_t i, kson_node_t** out);

// Building blocks of the decoder. The cursor advances past what was read; depth is
// the nesting level of the value being decoded (0 at the top).
struct kson_cursor_t {
  char const* data;
  size_t size;
};
bool kson_read_count(kson_cursor_t* cursor, uint32_t marker, size_t* out);
int kson_decode_value(kson_cursor_t* cursor, kson_node_t** out, unsigned depth);
void kson_node_free(kson_node_t* node);
