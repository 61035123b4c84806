#include "framework/exe_info/cf_exe_info.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <boost/system/system_error.hpp>
#include <functional>
#include <gtest/gtest.h>

#include "framework/error/cf_proto_exception.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

// What f throws: the code's value and the text.
std::string thrown(std::function<void()> const& f) {
  try {
    f();
  } catch (cf_proto_exception_t const& e) {
    return std::to_string(e.code()) + " " + e.what();
  } catch (boost::system::system_error const& e) {
    return e.code().message();
  } catch (std::exception const& e) {
    return e.what();
  }
  return "(nothing)";
}

// The digest of the real program is checked end to end (its app info); here, what cannot be read.
TEST(cf_file_digest, failures_carry_the_mapped_code_and_the_quoted_path) {
  test_sandbox_t box;
  EXPECT_EQ("125 MD5: read: Is a directory: \"" + box.path() + "\"", thrown([&] { cf_file_md5(box.path()); }));
  EXPECT_EQ("23 SHA256: open: No such file or directory: \"" + box.path() + "/a&\"b&&c\"",
            thrown([&] { cf_file_sha256(box.file("a\"b&c")); }));
  std::string const path = box.write("secret", "x");
  ASSERT_EQ(0, ::chmod(path.c_str(), 0));
  test_run_t const r = run_child([&] {  // root reads every file: the check runs unprivileged
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    ::_exit(std::stoi(thrown([&] { cf_file_md5(path); })));
  });
  EXPECT_EQ(qn::EC_PERMISSION_DENIED, r.status);
}

TEST(cf_fill_app_exe_info, numeric_owner_and_what_cannot_be_described) {
  test_sandbox_t box;
  if (::geteuid() == 0) {  // only root can give a file away
    uid_t uid = 54321;
    while (::getpwuid(uid)) ++uid;
    std::string const path = box.write("orphan", "x");
    ASSERT_EQ(0, ::chown(path.c_str(), uid, static_cast<gid_t>(-1)));
    EXPECT_EQ(std::to_string(uid), cf_fill_app_exe_info("v", path).exe_owner());
  }
  EXPECT_EQ("Not a regular file", thrown([&] { cf_fill_app_exe_info("v", box.path()); }));
  EXPECT_EQ("No such file or directory", thrown([&] { cf_fill_app_exe_info("v", box.file("missing")); }));
  EXPECT_EQ("Unknown exe path", thrown([] { cf_make_app_exe_info("v", 0, nullptr); }));
}

}  // namespace
