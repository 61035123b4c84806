// The executable started by hand, without ConfigD.

#include <regex>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>
#include <gtest/gtest.h>

#include "framework/exe_info/cf_exe_info.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

std::string const binary = QN_BIN_DIR "/quarn-smbgardix";

test_run_t run(std::vector<std::string> args, std::string const& exe = binary) {
  args.insert(args.begin(), exe);
  return run_program(args, test_child_t::environment({"COM_QUARN_MONITOR="}));
}

std::string base64(std::string const& raw) {
  using namespace boost::archive::iterators;
  using it_t = base64_from_binary<transform_width<std::string::const_iterator, 6, 8>>;
  std::string text(it_t(raw.begin()), it_t(raw.end()));
  while (text.size() % 4) text += '=';
  return text;
}

TEST(standalone, answers_and_statuses_also_into_a_closed_pipe) {
  std::string const help =
      "Command line options:\n"
      "  -h [ --help ]         print help message and exit\n"  // dump-app-info is left out
      "  -v [ --version ]      print version and exit\n\n";
  std::string const cannot = "Cannot run standalone. See quarn-smbgardix(1) for details.\n";
  std::string const unknown = "Error: unrecognised option '--nosuch'\n";
  // arguments, output, one Error line and no exit line (the threshold is Error), status
  std::tuple<std::vector<std::string>, std::string, std::string, int> const cases[] = {
      {{}, cannot, "", 1},
      {{"stray"}, cannot, "", 1},
      {{"-h", "--version"}, help, "", 0},
      {{"--version", "--HELP"}, help, "", 0},
      {{"-vh"}, help, "", 0},
      {{"--dump-app-info", "--help"}, help, "", 0},
      {{"--nosuch"}, "", unknown, 125},
      {{"--version", "--nosuch"}, "", unknown, 125},
      {{"--dump-app-info=yes"}, "", "Error: option '--dump-app-info' does not take any arguments\n", 125},
      {{"-vx"}, "", "Error: unrecognised option '-vx'\n", 125},
  };
  for (auto const& [args, out, err, status] : cases) {
    test_run_t const r = run(args);
    EXPECT_EQ(out + "|" + err + "|" + std::to_string(status), r.out + "|" + r.err + "|" + std::to_string(r.status))
        << testing::PrintToString(args);
  }
  // Output nobody reads any more changes no status.
  test_run_t const r = run_child([] {
    int p[2];
    if (::pipe(p) != 0 || ::close(p[0]) != 0 || ::dup2(p[1], 1) < 0) ::_exit(98);
    ::unsetenv("COM_QUARN_MONITOR");
    ::execl(binary.c_str(), binary.c_str(), "--help", static_cast<char*>(nullptr));
    ::_exit(97);
  });
  EXPECT_EQ(0, r.status) << r.err;
}

TEST(standalone, version_and_app_info_through_a_symbolic_link) {
  test_sandbox_t box;
  std::string const link = box.file("link");
  ASSERT_EQ(0, ::symlink(binary.c_str(), link.c_str()));
  struct stat st;
  ASSERT_EQ(0, ::stat(binary.c_str(), &st));
  struct passwd* pw = ::getpwuid(st.st_uid);
  ASSERT_NE(nullptr, pw);
  std::smatch version;
  std::string const line = run({"--Ver"}).out;  // abbreviations of any case
  ASSERT_TRUE(std::regex_match(line, version, std::regex("quarn-smbgardix ([0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+)\n")))
      << line;
  test_run_t const r = run({"--dump-app-info"}, link);
  EXPECT_EQ("{\"version\":\"" + version[1].str() + "\",\"installTime\":\"" + std::to_string(st.st_ctime) +
                "\",\"modificationTime\":\"" + std::to_string(st.st_mtime) + "\",\"exeSize\":\"" +
                std::to_string(st.st_size) + "\",\"exeMd5\":\"" + base64(cf_file_md5(binary)) + "\",\"exeOwner\":\"" +
                base64(pw->pw_name) + "\"}\n",
            r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
}

}  // namespace
