#include "framework/text/cf_enum_text.h"

#include <locale>

#include "annotation.pb.h"

namespace {

// The text used for lookups: an empty `lex` does not count.
std::string lookup_text(google::protobuf::EnumValueDescriptor const* value) {
  google::protobuf::EnumValueOptions const& options = value->options();
  if (options.HasExtension(qn::lex)) {
    std::string const& lex = options.GetExtension(qn::lex);
    if (!lex.empty()) return lex;
  }
  return value->name();
}

bool equal_ignoring_case(std::string const& a, std::string const& b) {
  if (a.size() != b.size()) return false;
  std::locale const locale;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(a[i], locale) != std::toupper(b[i], locale)) return false;
  return true;
}

}  // namespace

std::string cf_enum_value_text(google::protobuf::EnumValueDescriptor const* value) {
  if (!value) return std::string();
  google::protobuf::EnumValueOptions const& options = value->options();
  if (options.HasExtension(qn::lex)) return options.GetExtension(qn::lex);
  return value->name();
}

google::protobuf::EnumValueDescriptor const* cf_find_enum_value_by_text(google::protobuf::EnumDescriptor const* type,
                                                                        std::string const& text) {
  if (!type) return nullptr;
  for (int i = 0; i < type->value_count(); ++i) {
    google::protobuf::EnumValueDescriptor const* value = type->value(i);
    if (equal_ignoring_case(lookup_text(value), text)) return value;
  }
  return nullptr;
}

std::unordered_map<std::string, int> cf_enum_value_texts(google::protobuf::EnumDescriptor const* type) {
  std::unordered_map<std::string, int> texts;
  if (!type) return texts;
  std::locale const locale;
  for (int i = 0; i < type->value_count(); ++i) {
    google::protobuf::EnumValueDescriptor const* value = type->value(i);
    std::string key = lookup_text(value);
    for (char& c : key) c = std::tolower(c, locale);
    texts[key] = value->number();
  }
  return texts;
}
