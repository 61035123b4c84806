#include <gtest/gtest.h>

#include "framework/text/lex_name.h"

namespace {

// Share tags are compared by these keys; that underscores go and case folds shows end to end.
TEST(lex_name, only_ascii_letters_fold_and_other_bytes_stay) {
  EXPECT_EQ("a-b.c 1@[`{", lex_normalize_name("A-B.C 1@[`{"));
  EXPECT_EQ(std::string("\xC3\x84\xC3\xA4\0z", 6), lex_normalize_name(std::string("_\xC3\x84\xC3\xA4\0Z", 7)));
}

}  // namespace
