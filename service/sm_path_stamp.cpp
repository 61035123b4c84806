#include "service/sm_path_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "service/sm_fd.h"

namespace {

bool same(timespec const& a, timespec const& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool earlier(timespec const& a, timespec const& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

template <class each_t>
bool sm_path_stamp_t::walk(std::string const& path, std::size_t top_size, each_t const& each) {
  // A NUL would cut the path short; a path outside its top has no folders to stamp.
  if (top_size == 0 || top_size > path.size() || path[0] != '/' || path.find('\0') != std::string::npos ||
      (top_size < path.size() && top_size > 1 && path[top_size] != '/'))
    return false;
  int const folder = O_PATH | O_NOFOLLOW | O_CLOEXEC | O_DIRECTORY, last = O_PATH | O_NOFOLLOW | O_CLOEXEC;
  sm_fd_t node(::open(path.substr(0, top_size).c_str(), top_size < path.size() ? folder : last));
  // `at` stands on the "/" before the next name; the top "/" has none of its own.
  for (std::size_t at = top_size == 1 && path.size() > 1 ? 0 : top_size;;) {
    struct stat st;
    if (!node.valid() || ::fstat(node.get(), &st) != 0) return false;
    if (!each(node_t{st.st_dev, st.st_ino, st.st_ctim})) return false;
    if (at >= path.size()) return true;
    std::size_t const end = std::min(path.find('/', at + 1), path.size());
    node.reset(::openat(node.get(), path.substr(at + 1, end - at - 1).c_str(), end < path.size() ? folder : last));
    at = end;
  }
}

sm_path_stamp_t::sm_path_stamp_t(std::string const& path, std::size_t top_size) : top_size(top_size) {
  bool const complete = walk(path, top_size, [this](node_t const& node) {
    nodes.push_back(node);
    return true;
  });
  if (!complete) nodes.clear();
}

sm_path_stamp_t::trust_t sm_path_stamp_t::trust(timespec const& now) const {
  trust_t result = trusted;
  for (node_t const& node : nodes) result = std::max(result, trust(node.ctime, now));
  return result;
}

sm_path_stamp_t::trust_t sm_path_stamp_t::trust(timespec const& ctime, timespec const& now) {
  // Whole seconds: a change later in the same second shows the same time, whatever the clock's tick.
  if (ctime.tv_nsec == 0) return now.tv_sec - ctime.tv_sec >= 2 ? trusted : whole_seconds;
  // A file system cuts times down to its grain (100 ns on NTFS, 10 ms on FAT and exFAT), so a later change
  // within the grain shows the same time. The grain is read off the time itself, as the largest power of ten
  // up to 100 ms that divides its nanoseconds: a finer time that ends in zeros by chance only waits longer.
  long grain = 1;
  while (grain < 100000000L && ctime.tv_nsec % (grain * 10) == 0) grain *= 10;
  timespec end = ctime;
  end.tv_nsec += grain;
  if (end.tv_nsec >= 1000000000L) ++end.tv_sec, end.tv_nsec -= 1000000000L;
  return earlier(end, now) ? trusted : too_recent;
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
