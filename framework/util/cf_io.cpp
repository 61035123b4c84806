#include "framework/util/cf_io.h"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"

namespace {

boost::system::error_code errno_code(int err)
{
  return boost::system::error_code(err, boost::system::system_category());
}

// Returns a failure code instead of throwing, so both forms share one loop.
boost::system::error_code write_loop(int fd, char const* p, std::size_t rest)
{
  do {
    ssize_t n = ::write(fd, p, rest);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return errno_code(errno);
    }
    if (n == 0 && rest > 0)
      return qn::make_error_code(qn::EC_UNEXPECTED_ERROR);
    p += n;
    rest -= static_cast<std::size_t>(n);
  } while (rest > 0);
  return boost::system::error_code();
}

enum class read_result { ok, eof, failed };

read_result read_loop(int fd, char* p, std::size_t rest, int& err)
{
  while (rest > 0) {
    ssize_t n = ::read(fd, p, rest);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      err = errno;
      return read_result::failed;
    }
    if (n == 0)
      return read_result::eof;
    p += n;
    rest -= static_cast<std::size_t>(n);
  }
  return read_result::ok;
}

struct fd_guard_t {
  int fd;
  ~fd_guard_t() { ::close(fd); }
};

} // namespace

void cf_write_all(int fd, void const* data, std::size_t size)
{
  boost::system::error_code ec = write_loop(fd, static_cast<char const*>(data), size);
  if (ec)
    throw boost::system::system_error(ec, "write");
}

void cf_write_all(int fd, void const* data, std::size_t size, boost::system::error_code& ec)
{
  boost::system::error_code result = write_loop(fd, static_cast<char const*>(data), size);
  if (result)
    ec = result;
}

void cf_read_all(int fd, void* data, std::size_t size)
{
  int err = 0;
  switch (read_loop(fd, static_cast<char*>(data), size, err)) {
  case read_result::ok:
    return;
  case read_result::eof:
    throw std::runtime_error("unexpected eof");
  case read_result::failed:
    throw boost::system::system_error(errno_code(err), "read");
  }
}

void cf_read_all(int fd, void* data, std::size_t size, boost::system::error_code& ec)
{
  int err = 0;
  switch (read_loop(fd, static_cast<char*>(data), size, err)) {
  case read_result::ok:
    return;
  case read_result::eof:
    ec = qn::make_error_code(qn::EC_UNEXPECTED_EOF);
    return;
  case read_result::failed:
    ec = errno_code(err);
    return;
  }
}

std::string cf_read_file(std::string const& path)
{
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw boost::filesystem::filesystem_error("open", boost::filesystem::path(path), errno_code(errno));
  fd_guard_t guard{fd};

  struct stat st;
  if (::fstat(fd, &st) != 0)
    throw boost::system::system_error(errno_code(errno), "fstat");

  std::string result;
  if (st.st_size > 0) {
    result.resize(static_cast<std::size_t>(st.st_size));
    cf_read_all(fd, &result[0], result.size());
  }
  return result;
}
