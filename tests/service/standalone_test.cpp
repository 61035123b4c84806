// The executable started by hand, without ConfigD.

#include <regex>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>
#include <gtest/gtest.h>

#include "framework/exe_info/cf_exe_info.h"
#include "tests/framework/util/test_child.h"

namespace {

std::string const binary = QN_BIN_DIR "/quarn-smbgardix";

qn_test::child_result_t run(std::vector<std::string> args, std::string const& exe = binary) {
  args.insert(args.begin(), exe);
  return qn_test::run_program(exe, args, qn_test::environment_without({"COM_QUARN_MONITOR"}));
}

std::string base64(std::string const& raw) {
  using namespace boost::archive::iterators;
  using it_t = base64_from_binary<transform_width<std::string::const_iterator, 6, 8>>;
  std::string text(it_t(raw.begin()), it_t(raw.end()));
  while (text.size() % 4) text += '=';
  return text;
}

TEST(standalone, answers_and_statuses) {
  struct case_t {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
  };
  std::vector<case_t> const cases = {
      {{}, "Cannot run standalone. See quarn-smbgardix(1) for details.\n", "", 1},
      // The help text leaves dump-app-info out.
      {{"-h", "--version"},
       "Command line options:\n"
       "  -h [ --help ]         print help message and exit\n"
       "  -v [ --version ]      print version and exit\n"
       "\n",
       "",
       0},
      // Rejected command lines: one Error line, no exit line (the threshold is Error).
      {{"--nosuch"}, "", "Error: unrecognised option '--nosuch'\n", 125},
      {{"--version", "--nosuch"}, "", "Error: unrecognised option '--nosuch'\n", 125},
      {{"--help=1"}, "", "Error: option '--help' does not take any arguments\n", 125},
      {{"--dump-app-info=yes"}, "", "Error: option '--dump-app-info' does not take any arguments\n", 125},
      {{"-vx"}, "", "Error: unrecognised option '-vx'\n", 125},
  };
  for (case_t const& c : cases) {
    std::string const name = c.args.empty() ? "(none)" : c.args.back();
    qn_test::child_result_t r = run(c.args);
    EXPECT_EQ(c.out, r.out) << name;
    EXPECT_EQ(c.err, r.err) << name;
    EXPECT_EQ(c.status, r.status) << name;
  }
}

TEST(standalone, version_is_four_numbers) {
  qn_test::child_result_t r = run({"--VER"});
  EXPECT_TRUE(std::regex_match(r.out, std::regex("quarn-smbgardix [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
}

TEST(standalone, dump_app_info_through_symbolic_link_reports_target) {
  qn_test::sandbox_t box;
  std::string const link = box.file("link");
  ASSERT_EQ(0, ::symlink(binary.c_str(), link.c_str()));
  struct stat st;
  ASSERT_EQ(0, ::stat(binary.c_str(), &st));
  struct passwd* pw = ::getpwuid(st.st_uid);
  ASSERT_NE(nullptr, pw);
  std::string const head = "quarn-smbgardix ";
  std::string const line = run({"--version"}).out;
  ASSERT_EQ(0u, line.rfind(head, 0)) << line;
  std::string const version = line.substr(head.size(), line.size() - head.size() - 1);

  qn_test::child_result_t r = run({"--dump-app-info"}, link);
  EXPECT_EQ("{\"version\":\"" + version + "\",\"installTime\":\"" + std::to_string(st.st_ctime) +
                "\",\"modificationTime\":\"" + std::to_string(st.st_mtime) + "\",\"exeSize\":\"" +
                std::to_string(st.st_size) + "\",\"exeMd5\":\"" + base64(cf_file_md5(binary)) + "\",\"exeOwner\":\"" +
                base64(pw->pw_name) + "\"}\n",
            r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
}

}  // namespace
