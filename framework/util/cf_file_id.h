#pragma once

#include <cstdint>
#include <string>

#include <sys/stat.h>

// A file's identity as stat sees it: device, inode and status-change time.
class cf_file_id_t {
public:
  cf_file_id_t();
  explicit cf_file_id_t(struct stat const& st);

  void clear();

  // True when the file at path is gone or no longer has this identity.
  // A stat failure other than ENOENT throws boost::system::system_error ("stat").
  bool changed(std::string const& path) const;

  bool operator==(cf_file_id_t const& other) const;
  bool operator!=(cf_file_id_t const& other) const { return !(*this == other); }
  bool operator==(struct stat const& st) const;
  bool operator!=(struct stat const& st) const { return !(*this == st); }

  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t change_time;  // whole seconds
};
