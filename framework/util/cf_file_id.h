#pragma once

#include <cstdint>
#include <string>

#include <sys/stat.h>

// A file's identity as stat sees it. The members are named and shaped as in struct stat:
// st_ctime is a macro for st_ctim.tv_sec, so id.st_ctime reads the whole seconds here too.
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

  std::uint64_t st_dev;
  std::uint64_t st_ino;
  struct {
    std::int64_t tv_sec;  // whole seconds only
  } st_ctim;
};
