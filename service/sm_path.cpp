#include "service/sm_path.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "scanning/sm_report_rules.h"
#include "service/sm_fd.h"

namespace {

// The kernel follows at most this many links in one lookup.
constexpr int link_limit = 40;

// Thrown as the path library's canonical() throws it, so that a refusal reads as it always has: a name
// that is not found, or that is no folder, is its own condition there.
[[noreturn]] void fail(std::string const& path, int error) {
  boost::system::error_code const code = error == ENOENT || error == ENOTDIR
                                             ? boost::system::error_code(ENOENT, boost::system::generic_category())
                                             : boost::system::error_code(error, boost::system::system_category());
  throw boost::filesystem::filesystem_error("boost::filesystem::canonical", path, code);
}

// Puts the names of `text` on the stack `pending` so that its first name comes off first.
void push_names(std::string_view text, std::vector<std::string_view>& pending) {
  std::size_t const below = pending.size();
  for (std::size_t at = 0; at < text.size();) {
    std::size_t const end = std::min(text.find('/', at), text.size());
    if (end > at) pending.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::reverse(pending.begin() + below, pending.end());
}

// The absolute `source` resolved one name at a time through the folder before it: each step costs the
// same whatever the depth, where a lookup of every prefix from "/" costs the square of it.
std::string resolve(std::string const& source) {
  // The system resolves the whole path in one pass; a path that does not resolve is refused as a whole.
  struct stat st;
  if (::stat(source.c_str(), &st) != 0) fail(source, errno);
  std::vector<std::string_view> pending;
  std::deque<std::string> targets;  // the links read, which `pending` points into
  push_names(source, pending);
  std::string result = "/";
  sm_fd_t dir(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));  // the folder that `result` names
  bool at_file = false;
  int links = 0;
  while (!pending.empty()) {
    std::string_view const name = pending.back();
    pending.pop_back();
    if (name == ".") continue;
    // Below a file, or after the path changed under the walk, nothing more resolves.
    if (at_file) fail(source, ENOTDIR);
    if (name == "..") {
      if (result.size() == 1) continue;
      result.erase(std::max<std::size_t>(result.rfind('/'), 1));
      dir.reset(::openat(dir.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!dir.valid()) fail(source, errno);
      continue;
    }
    std::size_t const parent = result.size();
    if (parent > 1) result += '/';
    result.append(name);
    // Links may lead past what the system takes as a path, which it refuses when asked about the name.
    if (result.size() >= PATH_MAX)
      throw boost::filesystem::filesystem_error(
          "boost::filesystem::status", result,
          boost::system::error_code(ENAMETOOLONG, boost::system::system_category()));
    std::string const entry(name);
    int const next = ::openat(dir.get(), entry.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next >= 0) {
      dir.reset(next);
      continue;
    }
    if (errno != ENOTDIR && errno != ELOOP) fail(source, errno);
    char target[PATH_MAX];
    ssize_t const size = ::readlinkat(dir.get(), entry.c_str(), target, sizeof target);
    if (size < 0 && errno == EINVAL) {
      at_file = true;
      continue;
    }
    if (size < 0) fail(source, errno);
    if (size == 0 || size == sizeof target || ++links > link_limit)
      fail(source, size == sizeof target ? ENAMETOOLONG : ELOOP);
    result.resize(parent);
    push_names(targets.emplace_back(target, size), pending);
    if (target[0] == '/') {
      result = "/";
      dir.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
  }
  return result;
}

boost::filesystem::path canonical_path_of(boost::filesystem::path const& path) {
  return resolve((path.is_absolute() ? path : boost::filesystem::absolute(path, "/")).string());
}

}  // namespace

std::string sm_real_path(std::string const& path, int& error) {
  try {
    return canonical_path_of(path).string();
  } catch (boost::filesystem::filesystem_error const& e) {
    error = e.code().value();
    return std::string();
  }
}

bool sm_path_within(boost::filesystem::path const& top, boost::filesystem::path const& path) {
  return !top.empty() && std::mismatch(top.begin(), top.end(), path.begin(), path.end()).first == top.end();
}

boost::filesystem::path sm_normalize_path(std::string const& chroot_dir, boost::filesystem::path const& path,
                                          std::size_t& chroot_size) {
  // The system would cut the path at a NUL and name another file.
  if (path.native().find('\0') != std::string::npos) throw std::runtime_error("the path holds a NUL byte");
  // Made canonical anew each time: the chroot directory may itself be reached through a link that changes.
  boost::filesystem::path const chroot = canonical_path_of(chroot_dir);
  boost::filesystem::path canonical_path = canonical_path_of(chroot / path.relative_path());
  if (!sm_path_within(chroot, canonical_path))
    throw std::runtime_error(sm_quoted(canonical_path.string()) + " lies outside " + sm_quoted(chroot.string()));
  chroot_size = chroot.native().size();
  return canonical_path;
}
