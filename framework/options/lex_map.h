#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/options/lex_value.h"

namespace qn {
class LexMap;
}

// A tree of named options in insertion order; names compare by lex_name_equal.
class lex_map_t {
 public:
  using entry_t = std::pair<std::string, lex_value_t>;
  using entries_t = std::vector<entry_t>;

  lex_map_t() = default;
  explicit lex_map_t(qn::LexMap const& message);

  // The first matching entry's value, or null.
  lex_value_t* find(std::string const& key);
  lex_value_t const* find(std::string const& key) const;

  // The first matching entry's value; a new nil entry is appended when none matches.
  lex_value_t& get(std::string const& key);

  // Removes every matching entry; returns how many went.
  std::size_t erase(std::string const& key);

  // Appends the message's lists to the matching entries and merges its maps likewise.
  void merge(qn::LexMap const& message);

  void to_proto(qn::LexMap& message) const;

  // Writes the tree to the log at level, each line led by prefix and the entry's dotted path.
  void dump(int level, std::string const& prefix = std::string()) const;

  bool operator==(lex_map_t const& other) const;
  bool operator!=(lex_map_t const& other) const { return !(*this == other); }

  bool empty() const { return entries.empty(); }
  std::size_t size() const { return entries.size(); }

  entries_t entries;

 private:
  void dump_entries(int level, std::string const& prefix) const;
};
