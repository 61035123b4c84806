#include "framework/cmdline/cf_cmdline.h"

#include <pwd.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

// The standalone handler in a child, with argv[0] = exe.
test_run_t dump_app_info(std::string const& exe) {
  return run_child([&] {
    char const* argv[] = {exe.c_str(), "--dump-app-info", nullptr};
    cf_run_standalone("prog", "9.8.7.6", 2, argv);
    ::_exit(77);  // it must not come back
  });
}

// The real program's answers are checked end to end; these are executables it cannot be started as.
TEST(cf_run_standalone, app_info_of_an_executable_that_cannot_be_described_or_whose_owner_has_no_name) {
  test_sandbox_t box;
  test_run_t const r = dump_app_info(box.file("missing"));
  EXPECT_EQ("{}\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
  if (::geteuid() != 0 || ::getpwuid(54321)) return;  // only root can give a file away
  std::string const path = box.write("orphan", "x");
  ASSERT_EQ(0, ::chown(path.c_str(), 54321, static_cast<gid_t>(-1)));
  EXPECT_NE(std::string::npos, dump_app_info(path).out.find("\"exeOwner\":\"NTQzMjE=\"}"));  // "54321"
}

}  // namespace
