#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qn {
class LexOption;
}

class lex_map_t;

// One option's value: an optional list of strings and an optional nested map.
// Neither present is the nil value.
class lex_value_t {
 public:
  using list_t = std::vector<std::string>;

  lex_value_t();
  explicit lex_value_t(qn::LexOption const& option);
  lex_value_t(lex_value_t const& other);
  lex_value_t(lex_value_t&& other) noexcept;
  lex_value_t& operator=(lex_value_t const& other);
  lex_value_t& operator=(lex_value_t&& other) noexcept;
  ~lex_value_t();

  bool is_nil() const { return !list && !map; }

  // Create the part when absent and return it.
  list_t& make_list();
  lex_map_t& make_map();

  bool operator==(lex_value_t const& other) const;
  bool operator!=(lex_value_t const& other) const { return !(*this == other); }

  std::unique_ptr<list_t> list;
  std::unique_ptr<lex_map_t> map;
};
