#include "tools/fcheck_stub/stub_text.h"

#include <cstdio>
#include <vector>

#include <google/protobuf/descriptor.h>

namespace {

std::string field_value(google::protobuf::Message const& message, google::protobuf::FieldDescriptor const* field,
                        int index) {
  using google::protobuf::FieldDescriptor;
  google::protobuf::Reflection const* r = message.GetReflection();
  bool const rep = field->is_repeated();
  switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return std::to_string(rep ? r->GetRepeatedInt32(message, field, index) : r->GetInt32(message, field));
    case FieldDescriptor::CPPTYPE_INT64:
      return std::to_string(rep ? r->GetRepeatedInt64(message, field, index) : r->GetInt64(message, field));
    case FieldDescriptor::CPPTYPE_UINT32:
      return std::to_string(rep ? r->GetRepeatedUInt32(message, field, index) : r->GetUInt32(message, field));
    case FieldDescriptor::CPPTYPE_UINT64:
      return std::to_string(rep ? r->GetRepeatedUInt64(message, field, index) : r->GetUInt64(message, field));
    case FieldDescriptor::CPPTYPE_DOUBLE:
      return std::to_string(rep ? r->GetRepeatedDouble(message, field, index) : r->GetDouble(message, field));
    case FieldDescriptor::CPPTYPE_FLOAT:
      return std::to_string(rep ? r->GetRepeatedFloat(message, field, index) : r->GetFloat(message, field));
    case FieldDescriptor::CPPTYPE_BOOL:
      return (rep ? r->GetRepeatedBool(message, field, index) : r->GetBool(message, field)) ? "true" : "false";
    case FieldDescriptor::CPPTYPE_ENUM:
      return (rep ? r->GetRepeatedEnum(message, field, index) : r->GetEnum(message, field))->name();
    case FieldDescriptor::CPPTYPE_STRING:
      return stub_text_t::quote(rep ? r->GetRepeatedString(message, field, index) : r->GetString(message, field));
    case FieldDescriptor::CPPTYPE_MESSAGE:
      return "{" +
             (rep ? r->GetRepeatedMessage(message, field, index) : r->GetMessage(message, field)).ShortDebugString() +
             "}";
  }
  return std::string();
}

}  // namespace

std::string stub_text_t::describe(google::protobuf::Message const& message) {
  google::protobuf::Descriptor const* type = message.GetDescriptor();
  google::protobuf::FieldDescriptor const* tag = type->FindFieldByName("tag");
  google::protobuf::Reflection const* r = message.GetReflection();
  std::string text = tag ? field_value(message, tag, 0) : type->name();
  std::vector<google::protobuf::FieldDescriptor const*> fields;
  r->ListFields(message, &fields);
  for (google::protobuf::FieldDescriptor const* field : fields) {
    if (field == tag) continue;
    int const count = field->is_repeated() ? r->FieldSize(message, field) : 1;
    for (int i = 0; i < count; ++i) text += " " + field->name() + "=" + field_value(message, field, i);
  }
  return text;
}

std::string stub_text_t::quote(std::string const& bytes) {
  std::string text = "\"";
  for (char c : bytes) {
    unsigned char const u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (u < 0x20 || u > 0x7e) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      text += hex;
    } else {
      text += c;
    }
  }
  return text + "\"";
}
