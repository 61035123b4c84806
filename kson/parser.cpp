#include "kson/parser.h"

#include <stdexcept>

namespace kson {

parser_t::parser_t(char const* data, size_t size) : parser_(kson_parser_new(data, size)) {
  if (!parser_) throw std::runtime_error("failed to create parser");
}

parser_t::~parser_t() { kson_parser_free(parser_); }

kson_parser_t* parser_t::release() {
  kson_parser_t* parser = parser_;
  parser_ = nullptr;
  return parser;
}

bool parser_t::parse(value_t& root) {
  root = value_t();
  kson_node_t* node = nullptr;
  if (kson_parser_parse(parser_, &node) != KSON_OK) return false;
  root = value_t(node);
  return true;
}

}  // namespace kson
