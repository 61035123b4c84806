#include "framework/options/lex_value.h"

#include "framework/options/lex_map.h"
#include "lexmap.pb.h"

lex_value_t::lex_value_t() = default;

lex_value_t::lex_value_t(qn::LexOption const& option) {
  if (option.has_value())
    list.reset(new list_t(option.value().item().begin(), option.value().item().end()));
  else if (option.has_map())
    map.reset(new lex_map_t(option.map()));
}

lex_value_t::lex_value_t(lex_value_t const& other)
    : list(other.list ? new list_t(*other.list) : nullptr), map(other.map ? new lex_map_t(*other.map) : nullptr) {}

lex_value_t::lex_value_t(lex_value_t&& other) noexcept = default;

lex_value_t& lex_value_t::operator=(lex_value_t const& other) {
  if (this != &other) {
    lex_value_t copy(other);
    *this = std::move(copy);
  }
  return *this;
}

lex_value_t& lex_value_t::operator=(lex_value_t&& other) noexcept = default;

lex_value_t::~lex_value_t() = default;

lex_value_t::list_t& lex_value_t::make_list() {
  if (!list) list.reset(new list_t);
  return *list;
}

lex_map_t& lex_value_t::make_map() {
  if (!map) map.reset(new lex_map_t);
  return *map;
}

bool lex_value_t::operator==(lex_value_t const& other) const {
  if (static_cast<bool>(list) != static_cast<bool>(other.list)) return false;
  if (list && *list != *other.list) return false;
  if (static_cast<bool>(map) != static_cast<bool>(other.map)) return false;
  return !map || *map == *other.map;
}
