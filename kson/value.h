#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kson/kson_parser.h"

namespace kson {

// View of one decoded value; valid while the parser that produced it lives.
class value_t {
 public:
  value_t(kson_node_t* node = nullptr) : node_(node) {}

  kson_node_t* node() const { return node_; }

  char type() const;
  bool is_nil() const;
  bool is_bool() const;
  bool is_string() const;
  bool is_array() const;
  bool is_object() const;

  bool get_bool(bool& out) const;
  bool get_uint8(uint8_t& out) const;
  bool get_uint16(uint16_t& out) const;
  bool get_uint32(uint32_t& out) const;
  bool get_uint64(uint64_t& out) const;
  bool get_int8(int8_t& out) const;
  bool get_int16(int16_t& out) const;
  bool get_int32(int32_t& out) const;
  bool get_int64(int64_t& out) const;
  bool get_string(std::string& out) const;
  bool get_string(std::vector<char>& out) const;

  // Items of an array or pairs of an object; 0 for any other kind.
  size_t size() const;
  bool item(size_t i, value_t& out) const;
  bool key(size_t i, value_t& out) const;
  bool value(size_t i, value_t& out) const;

 private:
  kson_node_t* node_;
};

}  // namespace kson
