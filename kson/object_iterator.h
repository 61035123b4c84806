#pragma once

#include <cstddef>
#include <cstdint>

#include "kson/value.h"

namespace kson {

class reader_t;

// Walks the pairs of an object: each next() that returns true holds one pair.
class object_iterator_t {
 public:
  object_iterator_t();

  bool next();
  // The current key as a 32-bit integer; 0 when it is not an I value.
  uint32_t key_uint32() const;
  value_t value() const { return value_; }
  value_t object() const { return object_; }

 private:
  friend class reader_t;

  value_t key_;
  value_t value_;
  value_t object_;
  size_t index_;
  bool end_;
};

}  // namespace kson
