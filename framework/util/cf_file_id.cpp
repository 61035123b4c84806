#include "framework/util/cf_file_id.h"

#include <cerrno>

#include <boost/system/system_error.hpp>

cf_file_id_t::cf_file_id_t() : st_dev(0), st_ino(0), st_ctim{0} {}

cf_file_id_t::cf_file_id_t(struct stat const& st)
    : st_dev(static_cast<std::uint64_t>(st.st_dev)),
      st_ino(static_cast<std::uint64_t>(st.st_ino)),
      st_ctim{static_cast<std::int64_t>(st.st_ctime)} {}

void cf_file_id_t::clear() { *this = cf_file_id_t(); }

bool cf_file_id_t::changed(std::string const& path) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    throw boost::system::system_error(boost::system::error_code(errno, boost::system::system_category()), "stat");
  }
  return *this != st;
}

bool cf_file_id_t::operator==(cf_file_id_t const& other) const {
  return st_dev == other.st_dev && st_ino == other.st_ino && st_ctime == other.st_ctime;
}

bool cf_file_id_t::operator==(struct stat const& st) const { return *this == cf_file_id_t(st); }
