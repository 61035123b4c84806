#include "kson/reader.h"

namespace kson {

bool reader_t::begin(object_iterator_t& it) {
  it.key_ = value_t();
  it.value_ = value_t();
  it.index_ = 0;
  it.end_ = false;
  return parser_->parse(it.object_);
}

}  // namespace kson
