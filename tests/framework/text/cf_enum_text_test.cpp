#include "framework/text/cf_enum_text.h"

#include <gtest/gtest.h>

#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/text_format.h>

#include "annotation.pb.h"
#include "application.pb.h"
#include "error.pb.h"
#include "log.pb.h"

namespace {

using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;

// An enum of a pool of its own: RED "Red", GREEN with an empty `lex`, BLUE without one, CRIMSON
// sharing RED's text and NAMED_LIKE whose text is another value's name.
class test_enum_t {
 public:
  test_enum_t() {
    google::protobuf::FileDescriptorProto file;
    if (!google::protobuf::TextFormat::ParseFromString(
            R"(name: "cf_enum_text_test.proto" package: "qntest" enum_type { name: "Color"
               value { name: "RED" number: 1 options { [qn.lex]: "Red" } }
               value { name: "GREEN" number: 2 options { [qn.lex]: "" } }
               value { name: "BLUE" number: 3 }
               value { name: "CRIMSON" number: 4 options { [qn.lex]: "red" } }
               value { name: "NAMED_LIKE" number: 5 options { [qn.lex]: "GREEN" } } })",
            &file))
      return;
    google::protobuf::FileDescriptor const* built = pool_.BuildFile(file);
    type = built ? built->enum_type(0) : nullptr;
  }
  EnumDescriptor const* type = nullptr;

 private:
  google::protobuf::DescriptorPool pool_;
};

TEST(cf_enum_value_text, lex_text_even_empty_or_the_name) {
  test_enum_t e;
  ASSERT_NE(nullptr, e.type);
  struct row_t {
    EnumValueDescriptor const* value;
    char const* text;
  };
  for (row_t const& row : {row_t{qn::ErrorCode_descriptor()->FindValueByNumber(0), "Success"},
                           row_t{qn::ErrorCode_descriptor()->FindValueByNumber(102), "Invalid configuration"},
                           row_t{qn::Application_descriptor()->FindValueByNumber(40), "SMBGardix"},
                           row_t{qn::Application_descriptor()->FindValueByNumber(99), "APP_GENERIC"},
                           row_t{e.type->FindValueByNumber(1), "Red"}, row_t{e.type->FindValueByNumber(2), ""},
                           row_t{e.type->FindValueByNumber(3), "BLUE"}, row_t{nullptr, ""}})
    EXPECT_EQ(row.text, cf_enum_value_text(row.value)) << row.text;
}

TEST(cf_find_enum_value_by_text, ignores_case_and_takes_the_first) {
  test_enum_t e;
  ASSERT_NE(nullptr, e.type);
  struct row_t {
    EnumDescriptor const* type;
    char const* text;
    int number;  // -1: none
  };
  for (row_t const& row :
       {row_t{qn::ErrorCode_descriptor(), "INVALID CONFIGURATION", 102},
        row_t{qn::ErrorCode_descriptor(), "EC_OK", -1},  // has a text of its own
        row_t{qn::ErrorCode_descriptor(), "Success ", -1}, row_t{qn::Application_descriptor(), "app_generic", 99},
        row_t{e.type, "RED", 1},    // RED comes before CRIMSON
        row_t{e.type, "green", 2},  // empty lex: the name counts
        row_t{e.type, "Blue", 3}, row_t{e.type, "crimson", -1}, row_t{e.type, "", -1}, row_t{nullptr, "RED", -1}}) {
    EnumValueDescriptor const* found = cf_find_enum_value_by_text(row.type, row.text);
    EXPECT_EQ(row.number, found ? found->number() : -1) << row.text;
  }
}

TEST(cf_enum_value_texts, lower_cased_texts_to_numbers) {
  EXPECT_EQ((std::unordered_map<std::string, int>{{"syslog", 1}, {"file", 2}, {"stderr", 3}, {"auto", 4}}),
            cf_enum_value_texts(qn::Log::LogType_descriptor()));
  test_enum_t e;
  ASSERT_NE(nullptr, e.type);
  // The later value wins a shared text.
  EXPECT_EQ((std::unordered_map<std::string, int>{{"red", 4}, {"green", 5}, {"blue", 3}}), cf_enum_value_texts(e.type));
  EXPECT_TRUE(cf_enum_value_texts(nullptr).empty());
}

}  // namespace
