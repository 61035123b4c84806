#pragma once

// Names of settings and share tags.

#include <string>

// Every "_" removed, A to Z lower-cased, every other byte kept: the key of a
// share tag.
std::string lex_normalize_name(std::string const& name);

// Equal after removing "_" from both and ignoring ASCII case.
bool lex_name_equal(std::string const& a, std::string const& b);

// Non-empty and only ASCII letters, digits and "_".
bool lex_is_valid_name(std::string const& name);

// snake_case to CamelCase: the first character and each one after "_"
// upper-cased, every "_" dropped.
std::string lex_camel_case_name(std::string const& name);
