#include "framework/text/cf_enum_text.h"

#include <gtest/gtest.h>

#include <google/protobuf/descriptor.pb.h>

#include "annotation.pb.h"
#include "application.pb.h"
#include "error.pb.h"
#include "log.pb.h"

namespace {

using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;

TEST(cf_enum_value_text, lex_text_or_name) {
  EXPECT_EQ("Success", cf_enum_value_text(qn::ErrorCode_descriptor()->FindValueByNumber(0)));
  EXPECT_EQ("Invalid configuration", cf_enum_value_text(qn::ErrorCode_descriptor()->FindValueByNumber(102)));
  EXPECT_EQ("Process terminated by signal", cf_enum_value_text(qn::ErrorCode_descriptor()->FindValueByNumber(107)));
  EXPECT_EQ("Unexpected error", cf_enum_value_text(qn::ErrorCode_descriptor()->FindValueByNumber(125)));
  EXPECT_EQ("SMBGardix", cf_enum_value_text(qn::Application_descriptor()->FindValueByNumber(40)));
  EXPECT_EQ("APP_GENERIC", cf_enum_value_text(qn::Application_descriptor()->FindValueByNumber(99)));
  EXPECT_EQ("HINT_TIME", cf_enum_value_text(qn::LexHint_descriptor()->FindValueByNumber(12)));
  EXPECT_EQ("", cf_enum_value_text(nullptr));
}

// An enum of a pool of its own, with a `lex` that is present but empty and
// two values that share a text.
class test_enum_t {
 public:
  test_enum_t() {
    google::protobuf::FileDescriptorProto file;
    file.set_name("cf_enum_text_test.proto");
    file.set_package("qntest");
    file.set_syntax("proto2");
    google::protobuf::EnumDescriptorProto* e = file.add_enum_type();
    e->set_name("Color");
    add(e, "RED", 1, "Red", true);
    add(e, "GREEN", 2, "", true);       // lex present, empty
    add(e, "BLUE", 3, "", false);       // no lex
    add(e, "CRIMSON", 4, "red", true);  // shares a text with RED
    add(e, "NAMED_LIKE", 5, "GREEN", true);
    file_ = pool_.BuildFile(file);
  }
  EnumDescriptor const* type() const { return file_ ? file_->enum_type(0) : nullptr; }

 private:
  static void add(google::protobuf::EnumDescriptorProto* e, char const* name, int number, char const* lex,
                  bool with_lex) {
    google::protobuf::EnumValueDescriptorProto* value = e->add_value();
    value->set_name(name);
    value->set_number(number);
    if (with_lex) value->mutable_options()->SetExtension(qn::lex, lex);
  }
  google::protobuf::DescriptorPool pool_;
  google::protobuf::FileDescriptor const* file_ = nullptr;
};

TEST(cf_enum_value_text, present_empty_lex_is_the_text) {
  test_enum_t e;
  ASSERT_NE(nullptr, e.type());
  EXPECT_EQ("Red", cf_enum_value_text(e.type()->FindValueByNumber(1)));
  EXPECT_EQ("", cf_enum_value_text(e.type()->FindValueByNumber(2)));
  EXPECT_EQ("BLUE", cf_enum_value_text(e.type()->FindValueByNumber(3)));
}

TEST(cf_find_enum_value_by_text, ignores_case_and_takes_the_first) {
  test_enum_t e;
  ASSERT_NE(nullptr, e.type());
  struct row_t {
    EnumDescriptor const* type;
    char const* text;
    int number;  // -1: none
  };
  for (row_t const& row : {
           row_t{qn::ErrorCode_descriptor(), "success", 0},
           row_t{qn::ErrorCode_descriptor(), "INVALID CONFIGURATION", 102},
           row_t{qn::ErrorCode_descriptor(), "EC_OK", -1},  // has a text of its own
           row_t{qn::ErrorCode_descriptor(), "Success ", -1},
           row_t{qn::Application_descriptor(), "app_generic", 99},
           row_t{qn::Application_descriptor(), "smbgardix", 40},
           row_t{e.type(), "RED", 1},    // RED comes before CRIMSON
           row_t{e.type(), "green", 2},  // empty lex: the name counts
           row_t{e.type(), "Blue", 3},
           row_t{e.type(), "crimson", -1},
           row_t{e.type(), "", -1},
           row_t{nullptr, "RED", -1},
       }) {
    EnumValueDescriptor const* found = cf_find_enum_value_by_text(row.type, row.text);
    if (row.number < 0) {
      EXPECT_EQ(nullptr, found) << row.text;
    } else {
      ASSERT_NE(nullptr, found) << row.text;
      EXPECT_EQ(row.number, found->number()) << row.text;
    }
  }
}

TEST(cf_enum_value_texts, lower_cased_texts_to_numbers) {
  EXPECT_EQ((std::unordered_map<std::string, int>{{"syslog", 1}, {"file", 2}, {"stderr", 3}, {"auto", 4}}),
            cf_enum_value_texts(qn::Log::LogType_descriptor()));
  test_enum_t e;
  ASSERT_NE(nullptr, e.type());
  // The later value wins a shared text.
  EXPECT_EQ((std::unordered_map<std::string, int>{{"red", 4}, {"green", 5}, {"blue", 3}}),
            cf_enum_value_texts(e.type()));
  EXPECT_TRUE(cf_enum_value_texts(nullptr).empty());
  EXPECT_EQ(static_cast<std::size_t>(qn::ErrorCode_descriptor()->value_count()),
            cf_enum_value_texts(qn::ErrorCode_descriptor()).size());
}

}  // namespace
