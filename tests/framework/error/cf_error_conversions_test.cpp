#include "framework/error/cf_error_conversions.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/system/system_error.hpp>
#include <new>
#include <stdexcept>
#include <thread>

#include "framework/error/cf_exception.h"
#include "framework/error/cf_proto_exception.h"
#include "tests/framework/util/test_child.h"

namespace {

using boost::system::error_code;

error_code system_code(int value) { return error_code(value, boost::system::system_category()); }

TEST(cf_error_code_to_proto_code, errno_table) {
  struct row_t {
    error_code code;
    qn::ErrorCode expected;
  };
  for (row_t const& row :
       {row_t{error_code(), qn::EC_OK}, row_t{system_code(EACCES), qn::EC_PERMISSION_DENIED},
        row_t{system_code(EPERM), qn::EC_PERMISSION_DENIED}, row_t{system_code(ENOENT), qn::EC_NO_SUCH_ENTRY},
        row_t{system_code(ENOTDIR), qn::EC_NOT_A_DIRECTORY}, row_t{system_code(EROFS), qn::EC_READ_ONLY_FS},
        row_t{system_code(EINVAL), qn::EC_INVALID_ARGUMENT}, row_t{system_code(EEXIST), qn::EC_FILE_EXISTS},
        row_t{system_code(EADDRINUSE), qn::EC_NAME_ALREADY_IN_USE}, row_t{system_code(EXDEV), qn::EC_CROSS_DEVICE_LINK},
        row_t{system_code(ENOMEM), qn::EC_NO_MEMORY}, row_t{system_code(EIO), qn::EC_UNEXPECTED_ERROR},
        row_t{error_code(ENOENT, boost::system::generic_category()), qn::EC_NO_SUCH_ENTRY},
        row_t{qn::make_error_code(qn::EC_BAD_CONFIG), qn::EC_BAD_CONFIG},
        row_t{qn::make_error_code(qn::EC_LINK_DISCONNECTED), qn::EC_LINK_DISCONNECTED},
        // Not a value of the enum: through the table, matching nothing.
        row_t{qn::make_error_code(14), qn::EC_UNEXPECTED_ERROR},
        row_t{qn::make_error_code(9999), qn::EC_UNEXPECTED_ERROR},
        row_t{qn::make_error_code(-3), qn::EC_UNEXPECTED_ERROR}})
    EXPECT_EQ(row.expected, cf_error_code_to_proto_code(row.code))
        << row.code.category().name() << " " << row.code.value();
}

struct derived_system_error_t : boost::system::system_error {
  derived_system_error_t() : boost::system::system_error(system_code(EEXIST), "exists") {}
};

TEST(cf_exception_to_text, boost_prefix_and_special_cases) {
  struct row_t {
    char const* what;
    char const* text;
  };
  for (row_t const& row : {row_t{"boost::filesystem::directory_iterator::construct: No such file or directory",
                                 "opendir: No such file or directory"},
                           row_t{"boost::filesystem::directory_iterator::construct:", "opendir:"},
                           row_t{"boost::filesystem::directory_iterator::constructor: x", "constructor: x"},
                           row_t{"boost::filesystem::directory_iterator::increment: x", "increment: x"},
                           row_t{"boost::filesystem::directory_iterator::construct", "construct"},
                           row_t{"boost::a::filesystem::directory_iterator::construct: x", "construct: x"},
                           row_t{"boost::filesystem::canonical: No such file or directory: \"/a\"",
                                 "canonical: No such file or directory: \"/a\""},
                           row_t{"boost::", ""}, row_t{"boost::x: y", "x: y"}, row_t{"boost::a_1::b2::", ""},
                           row_t{"boost::a-b::c", "a-b::c"}, row_t{"boost::::x", "::x"}, row_t{"boost:x", "boost:x"},
                           row_t{" boost::x", " boost::x"}, row_t{"Boost::x", "Boost::x"},
                           row_t{"my boost::x", "my boost::x"}, row_t{"", ""}}) {
    std::runtime_error const e(row.what);
    EXPECT_STREQ(row.text, cf_exception_to_text(e)) << row.what;
  }
  EXPECT_STREQ("Not enough memory", cf_exception_to_text(std::bad_alloc()));
  // Only the exact type gets the fixed text.
  std::bad_array_new_length const longer;
  EXPECT_STREQ(longer.what(), cf_exception_to_text(longer));
}

TEST(cf_exception_to_text, real_filesystem_failure_and_texts_of_two_threads) {
  qn_test::sandbox_t sandbox;
  try {
    boost::filesystem::directory_iterator it{boost::filesystem::path(sandbox.file("missing"))};
    ADD_FAILURE() << "no exception";
  } catch (boost::filesystem::filesystem_error const& e) {
    std::string const text = cf_exception_to_text(e);
    EXPECT_EQ(0u, text.find("opendir: No such file or directory")) << text;
    EXPECT_EQ(qn::EC_NO_SUCH_ENTRY, cf_exception_to_proto_code(e));
  }

  std::runtime_error const mine("boost::filesystem::directory_iterator::construct: main thread");
  char const* const main_text = cf_exception_to_text(mine);
  std::string other_text;
  std::thread other([&] {
    std::runtime_error const theirs("boost::filesystem::directory_iterator::construct: other thread");
    other_text = cf_exception_to_text(theirs);
  });
  other.join();
  EXPECT_STREQ("opendir: main thread", main_text);
  EXPECT_EQ("opendir: other thread", other_text);
}

TEST(cf_exception_conversions, by_what_was_thrown) {
  struct row_t {
    std::exception_ptr p;
    error_code code;
    qn::ErrorCode proto;
    char const* text;
  };
  error_code const unexpected = qn::make_error_code(qn::EC_UNEXPECTED_ERROR);
  for (row_t const& row :
       {row_t{std::exception_ptr(), error_code(), qn::EC_OK, "Success"},
        row_t{std::make_exception_ptr(std::bad_alloc()), qn::make_error_code(qn::EC_NO_MEMORY), qn::EC_NO_MEMORY,
              "Not enough memory"},
        row_t{std::make_exception_ptr(boost::system::system_error(system_code(EROFS), "boost::x::write")),
              system_code(EROFS), qn::EC_READ_ONLY_FS, "write: Read-only file system"},
        row_t{std::make_exception_ptr(
                  boost::filesystem::filesystem_error("boost::filesystem::canonical", system_code(ENOTDIR))),
              system_code(ENOTDIR), qn::EC_NOT_A_DIRECTORY, "canonical: Not a directory"},
        row_t{std::make_exception_ptr(derived_system_error_t()), system_code(EEXIST), qn::EC_FILE_EXISTS,
              "exists: File exists"},
        row_t{std::make_exception_ptr(cf_exception_t(system_code(EACCES), "denied")), system_code(EACCES),
              qn::EC_PERMISSION_DENIED, "denied"},
        row_t{std::make_exception_ptr(cf_proto_exception_t(qn::EC_NOT_READY, "later")),
              qn::make_error_code(qn::EC_NOT_READY), qn::EC_NOT_READY, "later"},
        row_t{std::make_exception_ptr(std::logic_error("boost::odd")), unexpected, qn::EC_UNEXPECTED_ERROR, "odd"},
        row_t{std::make_exception_ptr(qn::EC_BAD_CONFIG), unexpected, qn::EC_UNEXPECTED_ERROR,
              "ErrorCode: Invalid configuration"},
        row_t{std::make_exception_ptr(static_cast<qn::ErrorCode>(14)), unexpected, qn::EC_UNEXPECTED_ERROR,
              "ErrorCode: 14"},
        row_t{std::make_exception_ptr(42), unexpected, qn::EC_UNEXPECTED_ERROR, "Unexpected exception"}}) {
    EXPECT_EQ(row.code, cf_exception_ptr_to_error_code(row.p)) << row.text;
    EXPECT_EQ(row.proto, cf_exception_ptr_to_proto_code(row.p)) << row.text;
    EXPECT_EQ(row.text, cf_exception_ptr_to_text(row.p));
    // The conversions of an exception object agree.
    try {
      if (row.p) std::rethrow_exception(row.p);
    } catch (std::exception const& e) {
      EXPECT_EQ(row.code, cf_exception_to_error_code(e)) << row.text;
      EXPECT_EQ(row.proto, cf_exception_to_proto_code(e)) << row.text;
      EXPECT_STREQ(row.text, cf_exception_to_text(e));
    } catch (...) {
    }
  }
  EXPECT_EQ("Process terminated by signal", cf_proto_code_to_text(qn::EC_APP_TERMINATED));
  EXPECT_EQ("-5", cf_proto_code_to_text(static_cast<qn::ErrorCode>(-5)));
  EXPECT_EQ("126", cf_proto_code_to_text(static_cast<qn::ErrorCode>(126)));
}

TEST(cf_error_code_to_exception_ptr, failures_only) {
  EXPECT_FALSE(cf_error_code_to_exception_ptr(error_code()));
  EXPECT_FALSE(cf_error_code_to_exception_ptr(error_code(), "prefix"));
  for (bool prefixed : {false, true}) {
    try {
      std::rethrow_exception(prefixed ? cf_error_code_to_exception_ptr(system_code(ENOENT), "open")
                                      : cf_error_code_to_exception_ptr(system_code(ENOENT)));
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(system_code(ENOENT), e.code());
      EXPECT_EQ(prefixed, std::string(e.what()).find("open: ") == 0) << e.what();
    }
  }
}

TEST(cf_proto_error_conversions, texts_exception_pointers_and_filled_messages) {
  qn::Error error;
  error.set_code(qn::EC_PROTOCOL_VIOLATION);
  EXPECT_EQ("Protocol violation", cf_proto_error_to_text(error));
  error.set_what("missing serial");
  EXPECT_EQ("missing serial", cf_proto_error_to_text(error));
  try {
    std::rethrow_exception(cf_proto_error_to_exception_ptr(error));
  } catch (cf_proto_exception_t const& e) {
    EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, e.code());
    EXPECT_STREQ("missing serial", e.what());
  }
  error.set_code(qn::EC_OK);
  EXPECT_FALSE(cf_proto_error_to_exception_ptr(error));
  EXPECT_FALSE(cf_proto_error_to_exception_ptr(qn::Error()));

  cf_error_code_to_proto_error(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), error);
  EXPECT_EQ(qn::EC_BAD_MESSAGE_SIZE, error.code());
  EXPECT_EQ("Invalid IPC message size", error.what());
  cf_exception_to_proto_error(std::runtime_error("boost::asio::read: gone"), error);
  EXPECT_EQ(qn::EC_UNEXPECTED_ERROR, error.code());
  EXPECT_EQ("read: gone", error.what());
  cf_exception_ptr_to_proto_error(std::make_exception_ptr(std::bad_alloc()), error);
  EXPECT_EQ(qn::EC_NO_MEMORY, error.code());
  EXPECT_EQ("Not enough memory", error.what());
  cf_exception_ptr_to_proto_error(std::exception_ptr(), error);
  EXPECT_EQ(qn::EC_OK, error.code());
  EXPECT_EQ("Success", error.what());
}

}  // namespace
