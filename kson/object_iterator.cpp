#include "kson/object_iterator.h"

namespace kson {

object_iterator_t::object_iterator_t() : index_(0), end_(false) {}

bool object_iterator_t::next() {
  if (end_) return false;
  if (!object_.key(index_, key_) || !object_.value(index_, value_)) {
    end_ = true;
    return false;
  }
  ++index_;
  return true;
}

uint32_t object_iterator_t::key_uint32() const {
  uint32_t key = 0;
  if (!key_.get_uint32(key)) return 0;
  return key;
}

}  // namespace kson
