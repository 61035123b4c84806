#include "kson/object_iterator.h"

namespace kson {

object_iterator_t::object_iterator_t() : index_(0), end_(false) {}

bool object_iterator_t::next() {
  if (end_) return false;
  // Straight from the node: every field of every message read passes here.
  kson_node_t const* object = object_.node();
  if (!kson_is_object(object) || index_ >= object->count) {
    key_ = value_t();
    end_ = true;
    return false;
  }
  key_ = value_t(object->keys[index_]);
  value_ = value_t(object->values[index_]);
  ++index_;
  return true;
}

uint32_t object_iterator_t::key_uint32() const {
  uint32_t key = 0;
  if (!key_.get_uint32(key)) return 0;
  return key;
}

}  // namespace kson
