#include "framework/cmdline/cf_cmdline.h"

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/framework/util/test_child.h"

namespace {

// Runs the standalone handler in a child with argv[0] = exe and the given arguments.
qn_test::child_result_t standalone(std::vector<std::string> args, std::string const& exe = "prog") {
  args.insert(args.begin(), exe);
  return qn_test::run_in_child([&] {
    std::vector<char const*> argv;
    for (std::string const& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    cf_run_standalone("prog", "9.8.7.6", static_cast<int>(args.size()), argv.data());
    ::_exit(77);  // it must not come back
  });
}

std::string const help_text =
    "Command line options:\n"
    "  -h [ --help ]         print help message and exit\n"
    "  -v [ --version ]      print version and exit\n"
    "\n";

struct case_t {
  std::vector<std::string> args;
  std::string out;
  int status;
};

TEST(cf_run_standalone, answers_by_option_table) {
  std::vector<case_t> const cases = {
      {{}, "Cannot run standalone. See prog(1) for details.\n", 1},
      {{"--help"}, help_text, 0},
      {{"-h"}, help_text, 0},
      {{"-h", "--version"}, help_text, 0},
      {{"--version", "--help"}, help_text, 0},
      {{"-vh"}, help_text, 0},
      {{"--version"}, "prog 9.8.7.6\n", 0},
      {{"-v"}, "prog 9.8.7.6\n", 0},
      {{"--VERSION"}, "prog 9.8.7.6\n", 0},
      {{"--ver"}, "prog 9.8.7.6\n", 0},
      {{"--Ver"}, "prog 9.8.7.6\n", 0},
      {{"--HELP"}, help_text, 0},
      {{"--version", "--dump-app-info"}, "prog 9.8.7.6\n", 0},
      {{"--dump-app-info", "--help"}, help_text, 0},
      // Words that are no options are not looked at.
      {{"stray"}, "Cannot run standalone. See prog(1) for details.\n", 1},
      {{"stray", "-v"}, "prog 9.8.7.6\n", 0},
  };
  for (case_t const& c : cases) {
    std::string joined;
    for (std::string const& a : c.args) joined += a + " ";
    qn_test::child_result_t r = standalone(c.args);
    EXPECT_EQ(c.out, r.out) << joined;
    EXPECT_EQ("", r.err) << joined;
    EXPECT_EQ(c.status, r.status) << joined;
  }
}

TEST(cf_run_standalone, write_errors_on_standard_output_are_ignored) {
  for (char const* option : {"--help", "--version", "--dump-app-info"}) {
    qn_test::child_result_t r = qn_test::run_in_child([&] {
      int full = ::open("/dev/full", O_WRONLY);
      if (full < 0 || ::dup2(full, 1) != 1) ::_exit(3);
      char const* argv[] = {"prog", option, nullptr};
      cf_run_standalone("prog", "9.8.7.6", 2, argv);
      ::_exit(77);
    });
    EXPECT_EQ("", r.err) << option;
    EXPECT_EQ(0, r.status) << option;
  }
}

TEST(cf_run_standalone, rejected_command_line_leaves_as_exception) {
  std::vector<std::vector<std::string>> const cases = {
      {"--nosuch"}, {"-x"}, {"--help=yes"}, {"--version", "--nosuch"}, {"-hx"},
  };
  for (std::vector<std::string> const& args : cases) {
    qn_test::child_result_t r = standalone(args);
    EXPECT_EQ(99, r.status) << args.back();
    EXPECT_EQ("", r.out) << args.back();
    EXPECT_EQ(0u, r.err.rfind("EXCEPTION: ", 0)) << r.err;
  }
  EXPECT_EQ("EXCEPTION: unrecognised option '--nosuch'\n", standalone({"--nosuch"}).err);
}

TEST(cf_run_standalone, dump_app_info_describes_argv0) {
  qn_test::sandbox_t box;
  std::string exe = box.write("exe", "abc");
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, exe.c_str(), times, 0));
  struct stat st;
  ASSERT_EQ(0, ::stat(exe.c_str(), &st));

  qn_test::child_result_t r = standalone({"--dump-app-info"}, exe);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
  std::string const head = "{\"version\":\"9.8.7.6\",\"installTime\":\"" + std::to_string(st.st_ctim.tv_sec) +
                           "\",\"modificationTime\":\"1234567890\",\"exeSize\":\"3\","
                           "\"exeMd5\":\"kAFQmDzST7DWlj99KOF/cg==\",\"exeOwner\":\"";
  EXPECT_EQ(0u, r.out.rfind(head, 0)) << r.out;
  EXPECT_EQ("\"}\n", r.out.substr(r.out.size() - 3));
}

TEST(cf_run_standalone, dump_app_info_prints_empty_object_when_file_cannot_be_described) {
  qn_test::sandbox_t box;
  for (std::string const& exe : {box.file("missing"), box.path(), std::string("no-such-name-in-cwd")}) {
    qn_test::child_result_t r = standalone({"--dump-app-info"}, exe);
    EXPECT_EQ(0, r.status) << exe;
    EXPECT_EQ("{}\n", r.out) << exe;
    EXPECT_EQ("", r.err) << exe;
  }
}

}  // namespace
