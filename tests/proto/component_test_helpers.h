// Small helpers shared by the schema tests of the guard's own messages.
#pragma once

#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace component_test {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

inline std::string wire(std::initializer_list<unsigned> bytes)
{
    std::string out;
    for (unsigned b : bytes)
        out.push_back(static_cast<char>(b));
    return out;
}

// Hex text, so that a mismatch shows where the bytes part.
inline std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
        out.push_back(' ');
    }
    return out;
}

inline std::string type_name_of(const FieldDescriptor* f)
{
    if (f->message_type())
        return f->message_type()->full_name();
    if (f->enum_type())
        return f->enum_type()->full_name();
    return "";
}

inline std::vector<std::string> imports_of(const Descriptor* d)
{
    std::vector<std::string> deps;
    const auto* file = d->file();
    for (int i = 0; i < file->dependency_count(); ++i)
        deps.push_back(file->dependency(i)->name());
    return deps;
}

struct field_row_t {
    int number;
    const char* name;
    FieldDescriptor::Label label;
    FieldDescriptor::Type type;
    const char* type_name;  // full name of a message or enum type, "" for scalars
};

constexpr auto OPT = FieldDescriptor::LABEL_OPTIONAL;
constexpr auto REQ = FieldDescriptor::LABEL_REQUIRED;
constexpr auto REP = FieldDescriptor::LABEL_REPEATED;

constexpr auto T_BOOL = FieldDescriptor::TYPE_BOOL;
constexpr auto T_U32 = FieldDescriptor::TYPE_UINT32;
constexpr auto T_U64 = FieldDescriptor::TYPE_UINT64;
constexpr auto T_I64 = FieldDescriptor::TYPE_INT64;
constexpr auto T_STR = FieldDescriptor::TYPE_STRING;
constexpr auto T_BYTES = FieldDescriptor::TYPE_BYTES;
constexpr auto T_MSG = FieldDescriptor::TYPE_MESSAGE;
constexpr auto T_ENUM = FieldDescriptor::TYPE_ENUM;

// The message declares exactly these fields, in this order.
inline void expect_fields(const Descriptor* d, const std::vector<field_row_t>& rows)
{
    SCOPED_TRACE(d->full_name());
    ASSERT_EQ(d->field_count(), static_cast<int>(rows.size()));
    for (int i = 0; i < d->field_count(); ++i) {
        const FieldDescriptor* f = d->field(i);
        const field_row_t& row = rows[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(f->name(), row.name);
        EXPECT_EQ(f->number(), row.number);
        EXPECT_EQ(f->label(), row.label);
        EXPECT_EQ(f->type(), row.type);
        EXPECT_EQ(type_name_of(f), row.type_name);
        EXPECT_FALSE(f->is_packed());
        EXPECT_EQ(f->containing_oneof(), nullptr);
    }
}

struct enum_row_t {
    const char* name;
    int number;
};

// The enum declares exactly these values, in this order.
inline void expect_enum(const google::protobuf::EnumDescriptor* e, const std::vector<enum_row_t>& rows)
{
    SCOPED_TRACE(e->full_name());
    ASSERT_EQ(e->value_count(), static_cast<int>(rows.size()));
    for (int i = 0; i < e->value_count(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(e->value(i)->name(), rows[i].name);
        EXPECT_EQ(e->value(i)->number(), rows[i].number);
        EXPECT_EQ(e->value(i)->options().ByteSizeLong(), 0u) << "carries no option";
    }
}

// The only unknown field of the message is this varint.
inline void expect_single_unknown_varint(const google::protobuf::Message& m, int number, uint64_t value)
{
    const auto& unknown = m.GetReflection()->GetUnknownFields(m);
    ASSERT_EQ(unknown.field_count(), 1);
    EXPECT_EQ(unknown.field(0).number(), number);
    ASSERT_EQ(unknown.field(0).type(), google::protobuf::UnknownField::TYPE_VARINT);
    EXPECT_EQ(unknown.field(0).varint(), value);
}

}  // namespace component_test
