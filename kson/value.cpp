#include "kson/value.h"

namespace kson {

namespace {

// Clears out, then assigns the bytes of a string value.
template <typename Bytes>
bool assign_string(kson_node_t const* node, Bytes& out) {
  out.clear();
  size_t size = 0;
  char const* data = nullptr;
  if (!kson_string_size(node, &size) || !kson_string_data(node, &data)) return false;
  out.assign(data, data + size);
  return true;
}

// out is the i-th child that get finds, or a null handle.
bool child(bool (*get)(kson_node_t const*, size_t, kson_node_t**), kson_node_t const* node, size_t i, value_t& out) {
  kson_node_t* found = nullptr;
  bool ok = get(node, i, &found);
  out = value_t(ok ? found : nullptr);
  return ok;
}

}  // namespace

char value_t::type() const { return kson_value_type(node_); }
bool value_t::is_nil() const { return kson_is_nil(node_); }
bool value_t::is_bool() const { return kson_is_bool(node_); }
bool value_t::is_string() const { return kson_is_string(node_); }
bool value_t::is_array() const { return kson_is_array(node_); }
bool value_t::is_object() const { return kson_is_object(node_); }

bool value_t::get_bool(bool& out) const { return kson_get_bool(node_, &out); }
bool value_t::get_uint8(uint8_t& out) const { return kson_get_uint8(node_, &out); }
bool value_t::get_uint16(uint16_t& out) const { return kson_get_uint16(node_, &out); }
bool value_t::get_uint32(uint32_t& out) const { return kson_get_uint32(node_, &out); }
bool value_t::get_uint64(uint64_t& out) const { return kson_get_uint64(node_, &out); }
bool value_t::get_int8(int8_t& out) const { return kson_get_int8(node_, &out); }
bool value_t::get_int16(int16_t& out) const { return kson_get_int16(node_, &out); }
bool value_t::get_int32(int32_t& out) const { return kson_get_int32(node_, &out); }
bool value_t::get_int64(int64_t& out) const { return kson_get_int64(node_, &out); }

bool value_t::get_string(std::string& out) const { return assign_string(node_, out); }
bool value_t::get_string(std::vector<char>& out) const { return assign_string(node_, out); }

size_t value_t::size() const {
  size_t count = 0;
  if (!kson_array_size(node_, &count)) kson_object_size(node_, &count);
  return count;
}

bool value_t::item(size_t i, value_t& out) const { return child(kson_array_item, node_, i, out); }
bool value_t::key(size_t i, value_t& out) const { return child(kson_object_key, node_, i, out); }
bool value_t::value(size_t i, value_t& out) const { return child(kson_object_value, node_, i, out); }

}  // namespace kson
