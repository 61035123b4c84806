#pragma once

// Display texts of protobuf enum values: the `lex` option when present, else
// the value's name.

#include <google/protobuf/descriptor.h>
#include <string>
#include <unordered_map>

// The value's `lex` text when the option is present (even when empty), else
// its name. Empty for a null pointer.
std::string cf_enum_value_text(google::protobuf::EnumValueDescriptor const* value);

// The first value in declaration order whose text (non-empty `lex`, else the
// name) equals text ignoring case; null when none does.
google::protobuf::EnumValueDescriptor const* cf_find_enum_value_by_text(google::protobuf::EnumDescriptor const* type,
                                                                        std::string const& text);

// Every value's text (non-empty `lex`, else the name), lower-cased, to its
// number; a later value wins a shared text.
std::unordered_map<std::string, int> cf_enum_value_texts(google::protobuf::EnumDescriptor const* type);
