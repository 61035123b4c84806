#include "service/sm_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

namespace {

std::string quoted(boost::filesystem::path const& path) {
  std::ostringstream text;
  text << path;
  return text.str();
}

}  // namespace

std::string sm_real_path(std::string const& path, int& error) {
  char* const real = ::realpath(path.c_str(), nullptr);
  error = errno;
  std::string const text = real ? std::string(real) : std::string();
  std::free(real);
  return text;
}

bool sm_path_within(boost::filesystem::path const& top, boost::filesystem::path const& path) {
  return !top.empty() && std::mismatch(top.begin(), top.end(), path.begin(), path.end()).first == top.end();
}

boost::filesystem::path sm_normalize_path(std::string const& chroot_dir, boost::filesystem::path const& path,
                                          std::size_t& chroot_size) {
  // The system would cut the path at a NUL and name another file.
  if (path.native().find('\0') != std::string::npos) throw std::runtime_error("the path holds a NUL byte");
  // Made canonical anew each time: the chroot directory may itself be reached through a link that changes.
  boost::filesystem::path const chroot = boost::filesystem::canonical(chroot_dir, "/");
  boost::filesystem::path canonical = boost::filesystem::canonical(chroot / path.relative_path(), "/");
  if (!sm_path_within(chroot, canonical))
    throw std::runtime_error(quoted(canonical) + " lies outside " + quoted(chroot));
  chroot_size = chroot.native().size();
  return canonical;
}
