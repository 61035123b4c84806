#include "framework/exe_info/cf_exe_info.h"

#include <sstream>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/error/cf_proto_exception.h"
#include "tests/framework/util/test_child.h"

namespace {

std::string hex(std::string const& raw) {
  static char const digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) out += std::string{digits[c >> 4], digits[c & 15]};
  return out;
}

std::string pattern_bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

TEST(cf_file_digest, known_digests_across_block_boundary) {
  struct row_t {
    std::string content;
    char const* md5;
    char const* sha256;
  };
  qn_test::sandbox_t box;
  for (row_t const& row : {row_t{"", "d41d8cd98f00b204e9800998ecf8427e",
                                 "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                           row_t{pattern_bytes(8192), "5756928d3feb9c830c61f92b56416d95",
                                 "25df2449b2e5a35fea14e02a7158e283801a1069c9f84631b9a9dacb2f809a7f"},
                           row_t{pattern_bytes(8193), "d70940b0f2d0a8ac92655d222ce0ecd5",
                                 "7e3691790cd64b19d4edb1a80e988214515abeb53aa0f34ffbfe4b4bf405d120"}}) {
    std::string const path = box.write("f" + std::to_string(row.content.size()), row.content);
    EXPECT_EQ(row.md5, hex(cf_file_md5(path))) << row.content.size();
    EXPECT_EQ(row.sha256, hex(cf_file_sha256(path))) << row.content.size();
  }
}

TEST(cf_file_digest, failures_carry_mapped_code_and_quoted_path) {
  qn_test::sandbox_t box;
  struct row_t {
    std::string path;
    qn::ErrorCode code;
    std::string text;  // after the digest's name
  };
  std::vector<row_t> const rows = {
      // A directory opens but fails on the first read.
      {box.path(), qn::EC_UNEXPECTED_ERROR, ": read: Is a directory: \"" + box.path() + "\""},
      {box.file("a\"b&c"), qn::EC_NO_SUCH_ENTRY, ": open: No such file or directory: \"" + box.path() + "/a&\"b&&c\""},
  };
  struct digest_t {
    std::string (*function)(std::string const&);
    std::string name;
  };
  for (digest_t const& digest : {digest_t{cf_file_md5, "MD5"}, digest_t{cf_file_sha256, "SHA256"}}) {
    for (row_t const& row : rows) {
      try {
        digest.function(row.path);
        ADD_FAILURE() << digest.name << " of " << row.path << ": no exception";
      } catch (cf_proto_exception_t const& e) {
        EXPECT_EQ(row.code, e.code()) << digest.name << " of " << row.path;
        EXPECT_EQ(digest.name + row.text, std::string(e.what()));
      }
    }
  }

  std::string const path = box.write("secret", "x");
  ASSERT_EQ(0, ::chmod(path.c_str(), 0));
  // Root reads every file: the check runs as an unprivileged user in a child.
  qn_test::child_result_t const r = qn_test::run_in_child([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    try {
      cf_file_sha256(path);
    } catch (cf_proto_exception_t const& e) {
      ::_exit(e.code());
    }
  });
  EXPECT_EQ(qn::EC_PERMISSION_DENIED, r.status);
}

TEST(cf_fill_app_exe_info, describes_the_target_of_a_link) {
  qn_test::sandbox_t box;
  std::string const target = box.write("target", "abc");
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, target.c_str(), times, 0));
  std::string const link = box.file("link");
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
  struct stat st;
  ASSERT_EQ(0, ::stat(target.c_str(), &st));
  struct passwd* pw = ::getpwuid(st.st_uid);
  ASSERT_NE(nullptr, pw);

  qn::AppExeInfo const info = cf_fill_app_exe_info("1.2.3.4", link);
  EXPECT_EQ("1.2.3.4", info.version());
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_ctim.tv_sec), info.install_time());
  EXPECT_EQ(1234567890u, info.modification_time());
  EXPECT_EQ(3u, info.exe_size());
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", hex(info.exe_md5()));
  EXPECT_EQ(pw->pw_name, info.exe_owner());
}

TEST(cf_fill_app_exe_info, owner_without_user_entry_is_numeric_uid) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  uid_t uid = 54321;
  while (::getpwuid(uid)) ++uid;
  qn_test::sandbox_t box;
  std::string const path = box.write("orphan", "x");
  ASSERT_EQ(0, ::chown(path.c_str(), uid, static_cast<gid_t>(-1)));
  EXPECT_EQ(std::to_string(uid), cf_fill_app_exe_info("v", path).exe_owner());
}

TEST(cf_fill_app_exe_info, directories_missing_files_and_no_argument_fail) {
  qn_test::sandbox_t box;
  try {
    cf_fill_app_exe_info("v", box.path());
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(qn::make_error_code(qn::EC_NOT_A_REGULAR_FILE), e.code());
  }
  try {
    cf_fill_app_exe_info("v", box.file("missing"));
    ADD_FAILURE() << "no exception";
  } catch (boost::filesystem::filesystem_error const& e) {
    EXPECT_TRUE(e.code() == boost::system::errc::no_such_file_or_directory) << e.code();
  }
  try {
    cf_make_app_exe_info("v", 0, nullptr);
    ADD_FAILURE() << "no exception";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ("Unknown exe path", e.what());
  }
}

TEST(cf_print_app_exe_info, compact_json_with_camel_case_string_numbers_and_base64) {
  qn::AppExeInfo info;
  info.set_version("1.2.3.4");
  info.set_install_time(1);
  info.set_modification_time(18446744073709551615u);
  info.set_exe_size(0);
  info.set_exe_md5(std::string("\x00\x01", 2));
  info.set_exe_owner("root");
  std::ostringstream out;
  cf_print_app_exe_info(out, info);
  cf_print_app_exe_info(out, qn::AppExeInfo());
  EXPECT_EQ(
      "{\"version\":\"1.2.3.4\",\"installTime\":\"1\",\"modificationTime\":\"18446744073709551615\","
      "\"exeSize\":\"0\",\"exeMd5\":\"AAE=\",\"exeOwner\":\"cm9vdA==\"}{}",
      out.str());
}

TEST(cf_compute_password, first_eight_base64_characters_of_hmac_sha256) {
  struct row_t {
    std::string key;
    std::string message;
    char const* expected;
  };
  // Expected values: HMAC-SHA256 reference vectors, first 6 bytes in Base64.
  for (row_t const& row :
       {row_t{"Jefe", "what do ya want for nothing?", "W9zBRr9g"}, row_t{"", "", "thNnmggU"},
        row_t{std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First", "YOQxWR7g"}})
    EXPECT_EQ(row.expected, cf_compute_password(row.key, row.message)) << row.message;
}

}  // namespace
