#include "framework/cmdline/cf_cmdline.h"

#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

// The standalone handler in a child, with argv[0] = exe and standard output on `out` when given.
test_run_t standalone(std::string const& option, std::string const& exe, char const* out = nullptr) {
  return run_child([&] {
    int const fd = out ? ::open(out, O_WRONLY) : 1;
    if (fd < 0 || ::dup2(fd, 1) != 1) ::_exit(3);
    char const* argv[] = {exe.c_str(), option.c_str(), nullptr};
    cf_run_standalone("prog", "9.8.7.6", 2, argv);
    ::_exit(77);  // it must not come back
  });
}

// The real program's answers are checked end to end; these are the cases it cannot reach.
TEST(cf_run_standalone, write_errors_and_an_executable_that_cannot_be_described) {
  for (char const* option : {"--help", "--version", "--dump-app-info"}) {
    test_run_t const r = standalone(option, "prog", "/dev/full");
    EXPECT_EQ("", r.err) << option;
    EXPECT_EQ(0, r.status) << option;
  }
  test_sandbox_t box;
  for (std::string const& missing : {box.file("missing"), box.path(), std::string("no-such-name-in-cwd")}) {
    test_run_t const r = standalone("--dump-app-info", missing);
    EXPECT_EQ(0, r.status) << missing;
    EXPECT_EQ("{}\n", r.out) << missing;
    EXPECT_EQ("", r.err) << missing;
  }
}

}  // namespace
