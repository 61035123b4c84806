#include "framework/options/lex_map.h"

#include <algorithm>

#include "framework/log/cf_log.h"
#include "framework/text/lex_name.h"
#include "lexmap.pb.h"

lex_map_t::lex_map_t(qn::LexMap const& message) { merge(message); }

lex_value_t* lex_map_t::find(std::string const& key) {
  for (entry_t& entry : entries)
    if (lex_name_equal(entry.first, key)) return &entry.second;
  return nullptr;
}

lex_value_t const* lex_map_t::find(std::string const& key) const { return const_cast<lex_map_t*>(this)->find(key); }

lex_value_t& lex_map_t::get(std::string const& key) {
  if (lex_value_t* value = find(key)) return *value;
  entries.emplace_back(key, lex_value_t());
  return entries.back().second;
}

std::size_t lex_map_t::erase(std::string const& key) {
  auto end = std::remove_if(entries.begin(), entries.end(),
                            [&key](entry_t const& entry) { return lex_name_equal(entry.first, key); });
  std::size_t removed = static_cast<std::size_t>(entries.end() - end);
  entries.erase(end, entries.end());
  return removed;
}

void lex_map_t::merge(qn::LexMap const& message) {
  for (qn::LexOption const& option : message.option()) {
    lex_value_t& value = get(option.key());
    if (option.has_value()) {
      lex_value_t::list_t& list = value.make_list();
      list.insert(list.end(), option.value().item().begin(), option.value().item().end());
    } else if (option.has_map()) {
      value.make_map().merge(option.map());
    }
  }
}

void lex_map_t::to_proto(qn::LexMap& message) const {
  for (entry_t const& entry : entries) {
    qn::LexOption* option = message.add_option();
    option->set_key(entry.first);
    if (entry.second.list) {
      qn::LexValue* value = option->mutable_value();
      for (std::string const& item : *entry.second.list) value->add_item(item);
    } else if (entry.second.map) {
      entry.second.map->to_proto(*option->mutable_map());
    }
  }
}

void lex_map_t::dump(int level, std::string const& prefix) const {
  if (cf_log_threshold > level) return;
  if (entries.empty())
    cf_log(level, prefix + "<empty map>");
  else
    dump_entries(level, prefix);
}

void lex_map_t::dump_entries(int level, std::string const& prefix) const {
  for (entry_t const& entry : entries) {
    std::string const path = prefix + entry.first;
    lex_value_t const& value = entry.second;
    if (value.is_nil()) {
      cf_log(level, path + " = <nil>");
      continue;
    }
    if (value.list) {
      if (value.list->empty()) cf_log(level, path + " = <empty list>");
      for (std::string const& item : *value.list) cf_log(level, path + " = \"" + item + "\"");
    }
    if (value.map) {
      if (value.map->empty())
        cf_log(level, path + " = <empty map>");
      else
        value.map->dump_entries(level, path + ".");
    }
  }
}

bool lex_map_t::operator==(lex_map_t const& other) const {
  if (entries.size() != other.entries.size()) return false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!lex_name_equal(entries[i].first, other.entries[i].first)) return false;
    if (entries[i].second != other.entries[i].second) return false;
  }
  return true;
}
