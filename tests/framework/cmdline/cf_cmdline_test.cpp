#include "framework/cmdline/cf_cmdline.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

// The real program's answers are checked end to end; these are executables it cannot be started
// as: a missing one prints an empty object, one whose owner has no name (root only) the number.
TEST(cf_run_standalone, app_info_of_an_executable_that_cannot_be_described_or_whose_owner_has_no_name) {
  test_sandbox_t box;
  std::string const orphan = box.write("orphan", "x");
  bool const give_away = ::geteuid() == 0 && !::getpwuid(54321) && ::chown(orphan.c_str(), 54321, -1) == 0;
  for (std::string const& exe : {box.file("missing"), orphan}) {
    test_run_t const r = run_child([&] {
      char const* argv[] = {exe.c_str(), "--dump-app-info", nullptr};
      cf_run_standalone("prog", "9.8.7.6", 2, argv);
      ::_exit(77);  // it must not come back
    });
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(exe == orphan ? !give_away || r.out.find("\"exeOwner\":\"NTQzMjE=\"}\n") != std::string::npos
                              : r.out == "{}\n" && r.err.empty())  // NTQzMjE= is "54321"
        << r.out;
  }
}

}  // namespace
