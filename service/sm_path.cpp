#include "service/sm_path.h"

#include <algorithm>

bool sm_path_within(boost::filesystem::path const& top, boost::filesystem::path const& path) {
  return !top.empty() && std::mismatch(top.begin(), top.end(), path.begin(), path.end()).first == top.end();
}
