#pragma once

// What a path looked like at one moment: the device, inode and change time of a file and of every
// folder above it up to the Samba chroot directory, links not followed. A rename, a link or an unlink
// changes the change time of the inode moved and of every folder whose entries change, so two equal
// stamps mean that nothing on the path was swapped in between, be it put back since; but only when the
// clock had passed every node's change time, by the grain its file system keeps times to, before the
// first stamp was taken, as a later change in that tick or that grain would leave the same time behind.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class sm_path_stamp_t {
 public:
  // In rising order of doubt: a stamp is as doubtful as its most doubtful node.
  enum trust_t {
    trusted,
    too_recent,     // the clock reading is not past a node's change time by its grain
    whole_seconds,  // a node's time, kept in whole seconds, lies within two seconds of it
  };

  // Stamps nothing: names no file and holds for no path.
  sm_path_stamp_t() = default;
  // `path` is canonical and lies within the canonical folder of its first `top_size` bytes. A node that
  // cannot be stamped, or a folder that is not one, leaves the stamp naming nothing. Each node is looked
  // up through the folder before it, so the cost grows with the depth alone.
  sm_path_stamp_t(std::string const& path, std::size_t top_size);

  // Whether the stamp can be trusted, `now` being the coarse real-time clock read just before it was taken.
  trust_t trust(timespec const& now) const;
  static trust_t trust(timespec const& ctime, timespec const& now);
  // Whether the stamp's last node is the file of these numbers.
  bool names(std::uint64_t dev, std::uint64_t ino) const;
  // Whether `path`, the path stamped, shows now what it showed then.
  bool holds(std::string const& path) const;

 private:
  struct node_t {
    dev_t dev;
    ino_t ino;
    timespec ctime;
  };

  // Calls `each` for the top folder, every folder below it and the path itself, in that order, with
  // what fstat gives for it; stops at the first false.
  template <class each_t>
  static bool walk(std::string const& path, std::size_t top_size, each_t const& each);

  std::vector<node_t> nodes;  // top first; empty when nothing was stamped
  std::size_t top_size = 0;
};
