// The executable started by hand, without ConfigD.

#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>
#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "framework/exe_info/cf_exe_info.h"
#include "tests/framework/util/test_child.h"

namespace {

std::string const binary = QN_BIN_DIR "/quarn-smbgardix";

qn_test::child_result_t run(std::vector<std::string> args, std::string const& argv0 = binary,
                            std::string const& exe = binary)
{
  args.insert(args.begin(), argv0);
  return qn_test::run_program(exe, args, qn_test::environment_without({"COM_QUARN_MONITOR"}));
}

std::string version_of_binary()
{
  qn_test::child_result_t r = run({"--version"});
  std::string const head = "quarn-smbgardix ";
  if (r.out.rfind(head, 0) != 0 || r.out.empty())
    return "";
  return r.out.substr(head.size(), r.out.size() - head.size() - 1);
}

// "quarn-smbgardix " and four dot-separated decimal numbers, then a line feed.
bool is_version_line(std::string const& line)
{
  std::string const head = "quarn-smbgardix ";
  if (line.rfind(head, 0) != 0 || line.empty() || line.back() != '\n')
    return false;
  int numbers = 0;
  bool digits = false;
  for (std::size_t i = head.size(); i + 1 < line.size(); ++i) {
    char c = line[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && digits) {
      ++numbers;
      digits = false;
    } else {
      return false;
    }
  }
  return digits && numbers == 3;
}

std::string base64(std::string const& raw)
{
  using namespace boost::archive::iterators;
  using it_t = base64_from_binary<transform_width<std::string::const_iterator, 6, 8>>;
  std::string text(it_t(raw.begin()), it_t(raw.end()));
  while (text.size() % 4)
    text += '=';
  return text;
}

TEST(standalone, without_arguments_cannot_run)
{
  qn_test::child_result_t r = run({});
  EXPECT_EQ("Cannot run standalone. See quarn-smbgardix(1) for details.\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(1, r.status);
}

TEST(standalone, help_wins_over_version_and_hides_dump_app_info)
{
  qn_test::child_result_t r = run({"-h", "--version"});
  EXPECT_EQ("Command line options:\n"
            "  -h [ --help ]         print help message and exit\n"
            "  -v [ --version ]      print version and exit\n"
            "\n",
            r.out);
  EXPECT_EQ(std::string::npos, r.out.find("dump-app-info"));
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
}

TEST(standalone, version_is_four_numbers_in_every_spelling)
{
  // The check itself tells wrong shapes apart.
  ASSERT_TRUE(is_version_line("quarn-smbgardix 1.0.0.202612061700\n"));
  for (char const* bad : {"quarn-smbgardix 1.0.0\n", "quarn-smbgardix 1.0.0.0.0\n", "quarn-smbgardix 1..0.0\n",
                          "quarn-smbgardix 1.0.0.0", "quarn-smbgardix 1.0.0.x\n", "quarn-smbgardix 1.0.0.\n"})
    ASSERT_FALSE(is_version_line(bad)) << bad;

  std::string first;
  for (char const* option : {"--version", "-v", "--VERSION", "--ver", "--vErSiOn"}) {
    qn_test::child_result_t r = run({std::string(option)});
    EXPECT_TRUE(is_version_line(r.out)) << option << ": " << r.out;
    EXPECT_EQ("", r.err) << option;
    EXPECT_EQ(0, r.status) << option;
    if (first.empty())
      first = r.out;
    EXPECT_EQ(first, r.out) << option;
  }
}

TEST(standalone, unparsable_command_line_is_an_error_with_status_125)
{
  struct case_t {
    std::vector<std::string> args;
    std::string err;
  };
  std::vector<case_t> const cases = {
    {{"--nosuch"}, "Error: unrecognised option '--nosuch'\n"},
    {{"--version", "--nosuch"}, "Error: unrecognised option '--nosuch'\n"},
    {{"--help=1"}, ""},
    {{"-vx"}, "Error: unrecognised option '-vx'\n"},
  };
  for (case_t const& c : cases) {
    qn_test::child_result_t r = run(c.args);
    EXPECT_EQ("", r.out) << c.args.back();
    EXPECT_EQ(125, r.status) << c.args.back();
    if (!c.err.empty()) {
      EXPECT_EQ(c.err, r.err);
    }
    // One Error line and no exit line: the threshold is Error.
    EXPECT_EQ(0u, r.err.rfind("Error: ", 0)) << r.err;
    EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << r.err;
  }
}

class standalone_dump : public ::testing::Test {
protected:
  void SetUp() override
  {
    copy_ = box_.file("copy");
    boost::filesystem::copy_file(binary, copy_);
    ASSERT_EQ(0, ::chmod(copy_.c_str(), 0755));
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, copy_.c_str(), times, 0));
  }

  std::string expected_json(std::string const& owner) const
  {
    struct stat st;
    EXPECT_EQ(0, ::stat(copy_.c_str(), &st));
    return "{\"version\":\"" + version_of_binary() + "\",\"installTime\":\"" + std::to_string(st.st_ctim.tv_sec) +
           "\",\"modificationTime\":\"1234567890\",\"exeSize\":\"" + std::to_string(st.st_size) +
           "\",\"exeMd5\":\"" + base64(cf_file_md5(copy_)) + "\",\"exeOwner\":\"" + base64(owner) + "\"}\n";
  }

  qn_test::sandbox_t box_;
  std::string copy_;
};

TEST_F(standalone_dump, through_symbolic_link_reports_target)
{
  std::string link = box_.file("link");
  ASSERT_EQ(0, ::symlink(copy_.c_str(), link.c_str()));
  struct stat st;
  ASSERT_EQ(0, ::stat(copy_.c_str(), &st));
  struct passwd* pw = ::getpwuid(st.st_uid);
  ASSERT_NE(nullptr, pw);
  std::string const owner = pw->pw_name;

  qn_test::child_result_t r = run({"--dump-app-info"}, link, link);
  EXPECT_EQ(expected_json(owner), r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
}

TEST_F(standalone_dump, owner_without_user_entry_is_numeric)
{
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to give a file away";
  uid_t uid = 54321;
  while (::getpwuid(uid))
    ++uid;
  ASSERT_EQ(0, ::chown(copy_.c_str(), uid, static_cast<gid_t>(-1)));
  ASSERT_EQ(0, ::chmod(copy_.c_str(), 0755));

  qn_test::child_result_t r = run({"--dump-app-info"}, copy_, copy_);
  EXPECT_EQ(expected_json(std::to_string(uid)), r.out);
  EXPECT_EQ(0, r.status);
}

TEST_F(standalone_dump, unresolvable_program_name_prints_empty_object)
{
  qn_test::child_result_t r = run({"--dump-app-info"}, "no-such-program-here", copy_);
  EXPECT_EQ("{}\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0, r.status);
}

} // namespace
