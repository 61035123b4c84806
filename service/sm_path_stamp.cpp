#include "service/sm_path_stamp.h"

#include <sys/stat.h>

namespace {

bool same(timespec const& a, timespec const& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

template <class each_t>
bool sm_path_stamp_t::walk(std::string const& path, std::size_t top_size, each_t const& each) {
  // A NUL would cut the path short; a path outside its top has no folders to stamp.
  if (top_size == 0 || top_size > path.size() || path[0] != '/' || path.find('\0') != std::string::npos ||
      (top_size < path.size() && top_size > 1 && path[top_size] != '/'))
    return false;
  std::string prefix;
  prefix.reserve(path.size());
  for (std::size_t end = top_size;; end = path.find('/', end + 1)) {
    bool const last = end >= path.size();
    prefix.assign(path, 0, last ? path.size() : end);
    struct stat st;
    if (::lstat(prefix.c_str(), &st) != 0 || (!last && !S_ISDIR(st.st_mode))) return false;
    if (!each(node_t{st.st_dev, st.st_ino, st.st_ctim})) return false;
    if (last) return true;
  }
}

sm_path_stamp_t::sm_path_stamp_t(std::string const& path, std::size_t top_size) : top_size(top_size) {
  bool const complete = walk(path, top_size, [this](node_t const& node) {
    nodes.push_back(node);
    return true;
  });
  if (!complete) nodes.clear();
}

bool sm_path_stamp_t::names(std::uint64_t dev, std::uint64_t ino) const {
  return !nodes.empty() && nodes.back().dev == dev && nodes.back().ino == ino;
}

bool sm_path_stamp_t::holds(std::string const& path) const {
  std::size_t at = 0;
  return !nodes.empty() && walk(path, top_size, [&](node_t const& node) {
    if (at == nodes.size()) return false;
    node_t const& then = nodes[at++];
    return node.dev == then.dev && node.ino == then.ino && same(node.ctime, then.ctime);
  }) && at == nodes.size();
}
