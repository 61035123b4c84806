#include "framework/util/cf_file_id.h"

#include <cerrno>

#include <boost/system/system_error.hpp>

cf_file_id_t::cf_file_id_t() : device(0), inode(0), change_time(0) {}

cf_file_id_t::cf_file_id_t(struct stat const& st)
    : device(static_cast<std::uint64_t>(st.st_dev)),
      inode(static_cast<std::uint64_t>(st.st_ino)),
      change_time(static_cast<std::int64_t>(st.st_ctim.tv_sec))
{
}

void cf_file_id_t::clear()
{
  device = 0;
  inode = 0;
  change_time = 0;
}

bool cf_file_id_t::changed(std::string const& path) const
{
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    throw boost::system::system_error(boost::system::error_code(errno, boost::system::system_category()), "stat");
  }
  return *this != st;
}

bool cf_file_id_t::operator==(cf_file_id_t const& other) const
{
  return device == other.device && inode == other.inode && change_time == other.change_time;
}

bool cf_file_id_t::operator==(struct stat const& st) const
{
  return *this == cf_file_id_t(st);
}
