#pragma once

#include <cstddef>

#include "kson/kson_parser.h"
#include "kson/value.h"

namespace kson {

// Handle of one kson parser over input it does not copy; owns the parser and its
// tree unless attached to a parser owned elsewhere and released again.
class parser_t {
 public:
  parser_t(char const* data, size_t size);
  // Takes up a parser owned elsewhere; it is freed by this handle unless released.
  explicit parser_t(kson_parser_t* attached) : parser_(attached) {}
  ~parser_t();

  parser_t(parser_t const&) = delete;
  parser_t& operator=(parser_t const&) = delete;

  kson_parser_t* release();

  // Decodes the next value; root is null unless it succeeds.
  bool parse(value_t& root);

 private:
  kson_parser_t* parser_;
};

}  // namespace kson
