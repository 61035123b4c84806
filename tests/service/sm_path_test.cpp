#include "service/sm_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "framework/error/cf_error_conversions.h"
#include "tests/support/sandbox.h"

namespace {

using boost::filesystem::create_directories;
using boost::filesystem::create_symlink;

// What a module's path comes to below the chroot directory: "@" stands for the sandbox. A result is the
// canonical path and, after a "|", the length of the chroot it begins with; a refusal is its text.
std::string normalized(std::string const& sandbox, std::string const& chroot, std::string const& path) {
  auto const at = [&](std::string text) {
    for (std::size_t found; (found = text.find(sandbox)) != std::string::npos;)
      text.replace(found, sandbox.size(), "@");
    return text;
  };
  try {
    std::size_t chroot_size = 0;
    std::string const result = sm_normalize_path(sandbox + chroot, path, chroot_size).string();
    return at(result) + "|" + at(result.substr(0, chroot_size));
  } catch (std::exception const& e) {
    return at(cf_exception_to_text(e));
  }
}

TEST(sm_path, a_module_path_comes_to_its_canonical_path_below_the_chroot_or_to_the_same_refusal_as_always) {
  test_sandbox_t box;
  std::string const s = boost::filesystem::canonical(box.path()).string(), c = s + "/c";
  create_directories(c + "/a/b"), create_directories(s + "/o");
  box.write("c/a/b/f", "f"), box.write("o/x", "x");
  std::pair<char const*, std::string> const links[] = {
      {"/c/a/rel", "b"},    {"/c/a/abs", c + "/a/b"}, {"/c/a/up", ".."},     {"/c/dot", "."},
      {"/c/out", s + "/o"}, {"/c/relout", "../o"},    {"/c/loop1", "loop2"}, {"/c/loop2", "loop1"},
      {"/cl", "c"},         {"/c/a/tofile", "b/f"},   {"/c/gone", "nothing"}};
  for (auto const& [link, target] : links) create_symlink(target, s + link);
  // A file whose absolute path takes the system's limit, 4095 bytes, in folders of 100-byte names; and below
  // its folder, folders that take the limit and one byte more, reached through a link only.
  std::string limit = c;
  while (limit.size() + 1 + 100 + 1 + 100 <= 4095) create_directories(limit += "/" + std::string(100, 'l'));
  std::string const folder = limit.substr(c.size());
  limit += "/" + std::string(4095 - limit.size() - 1, 'f');
  box.write(limit.substr(s.size() + 1), "f");
  std::string const fits(4095 - (c + folder).size() - 1, 'p'), past = fits + "p";
  int const dir = ::open((c + folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(0, ::mkdirat(dir, fits.c_str(), 0700) + ::mkdirat(dir, past.c_str(), 0700) + ::close(dir));
  create_symlink(c + folder, c + "/far");
  std::string const at_limit = limit.substr(c.size()), past_limit = std::string(at_limit).insert(101, "/");

  // chroot below the sandbox, the module's path, what it comes to
  std::tuple<char const*, std::string, std::string> const cases[] = {
      {"/c", "/a/b/f", "@/c/a/b/f|@/c"},
      {"/c", "/", "@/c|@/c"},
      {"/c", "/a/./b//f", "@/c/a/b/f|@/c"},
      {"/c", "/a/b/", "@/c/a/b|@/c"},
      // relative and absolute links inside
      {"/c", "/a/rel/f", "@/c/a/b/f|@/c"},
      {"/c", "/a/abs/f", "@/c/a/b/f|@/c"},
      {"/c", "/a/tofile", "@/c/a/b/f|@/c"},
      {"/c", "/dot/a/up/a/b/f", "@/c/a/b/f|@/c"},
      // ".." after a link goes up from where the link leads
      {"/c", "/a/rel/../b/f", "@/c/a/b/f|@/c"},
      {"/c", "/a/abs/../../a/b/f", "@/c/a/b/f|@/c"},
      {"/c", "/a/up/../c/a/b/f", "@/c/a/b/f|@/c"},
      // leading out: relative and absolute links, and ".." past the chroot
      {"/c", "/out/x", "\"@/o/x\" lies outside \"@/c\""},
      {"/c", "/relout/x", "\"@/o/x\" lies outside \"@/c\""},
      {"/c", "/../o/x", "\"@/o/x\" lies outside \"@/c\""},
      {"/c", "/a/up/../o", "\"@/o\" lies outside \"@/c\""},
      {"/c", "/..", "\"@\" lies outside \"@/c\""},
      // missing names, a file taken for a folder, a dangling link, a loop
      {"/c", "/missing/f", "canonical: No such file or directory: \"@/c/missing/f\""},
      {"/c", "/a/b/f/g", "canonical: No such file or directory: \"@/c/a/b/f/g\""},
      {"/c", "/a/tofile/", "canonical: No such file or directory: \"@/c/a/tofile/\""},
      {"/c", "/gone", "canonical: No such file or directory: \"@/c/gone\""},
      {"/c", "/loop1", "canonical: Too many levels of symbolic links: \"@/c/loop1\""},
      {"/c", std::string("/a/b\0/../f", 10), "the path holds a NUL byte"},
      // the system's limit: at it, past it, and past it only once a link is followed
      {"/c", at_limit, "@/c" + at_limit + "|@/c"},
      {"/c", past_limit, "canonical: File name too long: \"@/c" + past_limit + "\""},
      {"/c", "/far/" + fits, "@/c" + folder + "/" + fits + "|@/c"},
      {"/c", "/far/" + past, "status: File name too long: \"@/c" + folder + "/" + past + "\""},
      // the chroot reached through a link, or missing
      {"/cl", "/a/rel/f", "@/c/a/b/f|@/c"},
      {"/cl", "/../cl/a/b/f", "@/c/a/b/f|@/c"},
      {"/none", "/a", "canonical: No such file or directory: \"@/none\""},
  };
  auto const open_descriptors = [] {
    return std::distance(boost::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  long const before = open_descriptors();
  for (auto const& [chroot, path, expected] : cases) EXPECT_EQ(expected, normalized(s, chroot, path)) << path;
  EXPECT_EQ(before, open_descriptors());  // closed on every way out
}

}  // namespace
