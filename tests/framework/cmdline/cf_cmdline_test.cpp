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

TEST(cf_run_standalone, answers_by_option_table) {
  std::string const help =
      "Command line options:\n"
      "  -h [ --help ]         print help message and exit\n"
      "  -v [ --version ]      print version and exit\n"
      "\n";
  std::string const version = "prog 9.8.7.6\n", cannot = "Cannot run standalone. See prog(1) for details.\n";
  struct row_t {
    std::vector<std::string> args;
    std::string out;
    int status;  // 99: the command line was rejected with an exception
  };
  for (row_t const& row :
       {row_t{{}, cannot, 1}, row_t{{"--help"}, help, 0}, row_t{{"-h", "--version"}, help, 0},
        row_t{{"--version", "--help"}, help, 0}, row_t{{"-vh"}, help, 0}, row_t{{"--HELP"}, help, 0},
        row_t{{"--dump-app-info", "--help"}, help, 0}, row_t{{"--version"}, version, 0}, row_t{{"-v"}, version, 0},
        row_t{{"--VERSION"}, version, 0}, row_t{{"--ver"}, version, 0}, row_t{{"--Ver"}, version, 0},
        row_t{{"--version", "--dump-app-info"}, version, 0},
        // Words that are no options are not looked at.
        row_t{{"stray"}, cannot, 1}, row_t{{"stray", "-v"}, version, 0}, row_t{{"-x"}, "", 99},
        row_t{{"--help=yes"}, "", 99}, row_t{{"--version", "--nosuch"}, "", 99}, row_t{{"-hx"}, "", 99}}) {
    std::string joined;
    for (std::string const& a : row.args) joined += a + " ";
    qn_test::child_result_t const r = standalone(row.args);
    EXPECT_EQ(row.out, r.out) << joined;
    EXPECT_EQ(row.status, r.status) << joined;
    EXPECT_EQ(row.status == 99 ? 0u : std::string::npos, r.err.rfind("EXCEPTION: ", 0)) << joined << r.err;
  }
  EXPECT_EQ("EXCEPTION: unrecognised option '--nosuch'\n", standalone({"--nosuch"}).err);
}

TEST(cf_run_standalone, write_errors_on_standard_output_are_ignored) {
  for (char const* option : {"--help", "--version", "--dump-app-info"}) {
    qn_test::child_result_t const r = qn_test::run_in_child([&] {
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

TEST(cf_run_standalone, dump_app_info_describes_argv0_or_prints_an_empty_object) {
  qn_test::sandbox_t box;
  std::string const exe = box.write("exe", "abc");
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, exe.c_str(), times, 0));
  struct stat st;
  ASSERT_EQ(0, ::stat(exe.c_str(), &st));
  qn_test::child_result_t const r = standalone({"--dump-app-info"}, exe);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
  std::string const head = "{\"version\":\"9.8.7.6\",\"installTime\":\"" + std::to_string(st.st_ctim.tv_sec) +
                           "\",\"modificationTime\":\"1234567890\",\"exeSize\":\"3\","
                           "\"exeMd5\":\"kAFQmDzST7DWlj99KOF/cg==\",\"exeOwner\":\"";
  EXPECT_EQ(0u, r.out.rfind(head, 0)) << r.out;
  EXPECT_EQ("\"}\n", r.out.substr(r.out.size() - 3));

  for (std::string const& missing : {box.file("missing"), box.path(), std::string("no-such-name-in-cwd")}) {
    qn_test::child_result_t const empty = standalone({"--dump-app-info"}, missing);
    EXPECT_EQ(0, empty.status) << missing;
    EXPECT_EQ("{}\n", empty.out) << missing;
    EXPECT_EQ("", empty.err) << missing;
  }
}

}  // namespace
