#include "service/sm_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

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
