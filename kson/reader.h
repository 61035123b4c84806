#pragma once

#include "kson/object_iterator.h"
#include "kson/parser.h"

namespace kson {

// Reads the top value of a parser's input as an object of pairs.
class reader_t {
 public:
  explicit reader_t(parser_t& parser) : parser_(&parser) {}

  // Resets the iterator and parses the input into its object; false when the
  // input does not decode.
  bool begin(object_iterator_t& it);

 private:
  parser_t* parser_;
};

}  // namespace kson
