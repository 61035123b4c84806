#include "framework/text/lex_name.h"

namespace {

// ASCII only: bytes of multi-byte characters must pass unchanged.
char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_ascii_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

std::string lex_normalize_name(std::string const& name) {
  std::string key;
  key.reserve(name.size());
  for (char c : name)
    if (c != '_') key += ascii_lower(c);
  return key;
}

bool lex_name_equal(std::string const& a, std::string const& b) {
  return lex_normalize_name(a) == lex_normalize_name(b);
}

bool lex_is_valid_name(std::string const& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (c != '_' && !is_ascii_alnum(c)) return false;
  return true;
}

std::string lex_camel_case_name(std::string const& name) {
  std::string camel;
  camel.reserve(name.size());
  bool upper_next = true;
  for (char c : name) {
    if (c == '_') {
      upper_next = true;
      continue;
    }
    camel += upper_next ? ascii_upper(c) : c;
    upper_next = false;
  }
  return camel;
}
