// The custom options: their numbers, extendees and types, their
// registration with the library, and where this program's schemas use them.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstdint>
#include <string>

#include "annotation.pb.h"
#include "application.pb.h"
#include "error.pb.h"
#include "list.pb.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;

std::string varint(uint64_t v) {
  std::string out;
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
  return out;
}

std::string key(int number, int wire_type) { return varint((static_cast<uint64_t>(number) << 3) | wire_type); }

TEST(SuiteAnnotation, OptionsHaveTheirNumbersExtendeesAndTypes) {
  const struct {
    const char* name;
    int number;
    const char* extendee;
    FieldDescriptor::Type type;
  } rows[] = {
      {"qn.app", 50001, "google.protobuf.MessageOptions", FieldDescriptor::TYPE_INT32},
      {"qn.ini_section", 50002, "google.protobuf.MessageOptions", FieldDescriptor::TYPE_STRING},
      {"qn.hint", 50001, "google.protobuf.FieldOptions", FieldDescriptor::TYPE_ENUM},
      {"qn.lex", 50001, "google.protobuf.EnumValueOptions", FieldDescriptor::TYPE_STRING},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const FieldDescriptor* ext = DescriptorPool::generated_pool()->FindExtensionByName(row.name);
    ASSERT_NE(ext, nullptr);
    EXPECT_TRUE(ext->is_extension());
    EXPECT_EQ(ext->number(), row.number);
    EXPECT_EQ(ext->containing_type()->full_name(), row.extendee);
    EXPECT_EQ(ext->type(), row.type);
    EXPECT_EQ(ext->label(), FieldDescriptor::LABEL_OPTIONAL);
    EXPECT_FALSE(ext->is_packed());
    EXPECT_FALSE(ext->has_default_value());
    EXPECT_EQ(ext->file()->name(), "annotation.proto");
  }
  EXPECT_EQ(DescriptorPool::generated_pool()->FindExtensionByName("qn.hint")->enum_type(), qn::LexHint_descriptor());
  EXPECT_EQ(qn::app.number(), 50001);
  EXPECT_EQ(qn::ini_section.number(), 50002);
  EXPECT_EQ(qn::hint.number(), 50001);
  EXPECT_EQ(qn::lex.number(), 50001);
}

TEST(SuiteAnnotation, UnsetOptionsReadAsTheirDefaults) {
  google::protobuf::MessageOptions message_options;
  google::protobuf::FieldOptions field_options;
  google::protobuf::EnumValueOptions value_options;
  EXPECT_EQ(message_options.GetExtension(qn::app), 0);
  EXPECT_EQ(message_options.GetExtension(qn::ini_section), "");
  EXPECT_EQ(field_options.GetExtension(qn::hint), qn::HINT_NONE);
  EXPECT_EQ(value_options.GetExtension(qn::lex), "");
}

TEST(SuiteAnnotation, RegisteredOptionsParseFromTheWire) {
  google::protobuf::MessageOptions message_options;
  ASSERT_TRUE(message_options.ParseFromString(key(50001, 0) + varint(40) + key(50002, 2) + varint(9) + "SMBGardix"));
  EXPECT_TRUE(message_options.HasExtension(qn::app));
  EXPECT_EQ(message_options.GetExtension(qn::app), 40);
  EXPECT_EQ(message_options.GetExtension(qn::ini_section), "SMBGardix");
  EXPECT_EQ(message_options.unknown_fields().field_count(), 0);

  google::protobuf::EnumValueOptions value_options;
  ASSERT_TRUE(value_options.ParseFromString(key(50001, 2) + varint(7) + "Success"));
  EXPECT_EQ(value_options.GetExtension(qn::lex), "Success");

  google::protobuf::FieldOptions field_options;
  ASSERT_TRUE(field_options.ParseFromString(key(50001, 0) + varint(qn::HINT_ABSPATH)));
  EXPECT_EQ(field_options.GetExtension(qn::hint), qn::HINT_ABSPATH);
}

TEST(SuiteAnnotation, UnknownHintNumberGoesToTheUnknownFields) {
  for (int number : {6, 9, 17}) {
    SCOPED_TRACE(number);
    google::protobuf::FieldOptions options;
    const std::string wire = key(50001, 0) + varint(number);
    ASSERT_TRUE(options.ParseFromString(wire));
    EXPECT_FALSE(options.HasExtension(qn::hint));
    EXPECT_EQ(options.GetExtension(qn::hint), qn::HINT_NONE);
    ASSERT_EQ(options.unknown_fields().field_count(), 1);
    EXPECT_EQ(options.unknown_fields().field(0).number(), 50001);
    EXPECT_EQ(options.unknown_fields().field(0).varint(), static_cast<uint64_t>(number));
    EXPECT_EQ(options.SerializeAsString(), wire);
  }
}

TEST(SuiteAnnotation, LexHintValidity) {
  for (int n : {6, 7, 8, 9, 17, -1, -16}) EXPECT_FALSE(qn::LexHint_IsValid(n)) << n;
  for (int n : {0, 5, 10, 16}) EXPECT_TRUE(qn::LexHint_IsValid(n)) << n;
}

TEST(SuiteAnnotation, ValueWithoutTextIsKnownByItsName) {
  const auto* generic = qn::Application_descriptor()->FindValueByNumber(qn::APP_GENERIC);
  ASSERT_NE(generic, nullptr);
  EXPECT_FALSE(generic->options().HasExtension(qn::lex));
  EXPECT_EQ(generic->name(), "APP_GENERIC");
}

// The suite files carry no message options, and a hint only on the paths
// of a path list.
TEST(SuiteAnnotation, WhereTheSuiteFilesUseOptions) {
  const char* files[] = {"annotation.proto", "error.proto", "application.proto", "log.proto",
                         "remote_user.proto", "file.proto", "list.proto", "lexmap.proto",
                         "network.proto", "pair.proto", "protocol.proto", "scan_report.proto",
                         "socket.proto", "url_category.proto", "action.proto", "quarantine.proto",
                         "disk.proto", "dnsxl.proto", "connection_match.proto", "se_appinfo.proto",
                         "vornd_appinfo.proto"};
  int hinted = 0;
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const FileDescriptor* file = DescriptorPool::generated_pool()->FindFileByName(name);
    ASSERT_NE(file, nullptr);
    for (int i = 0; i < file->message_type_count(); ++i) {
      const Descriptor* d = file->message_type(i);
      EXPECT_FALSE(d->options().HasExtension(qn::app)) << d->full_name();
      EXPECT_FALSE(d->options().HasExtension(qn::ini_section)) << d->full_name();
      for (int j = 0; j < d->field_count(); ++j) {
        if (!d->field(j)->options().HasExtension(qn::hint)) continue;
        ++hinted;
        EXPECT_EQ(d->field(j)->full_name(), "qn.PathList.path");
        EXPECT_EQ(d->field(j)->options().GetExtension(qn::hint), qn::HINT_ABSPATH);
      }
    }
  }
  EXPECT_EQ(hinted, 1);
  EXPECT_EQ(qn::PathList::descriptor()->field(0)->options().GetExtension(qn::hint), qn::HINT_ABSPATH);
}

}  // namespace
