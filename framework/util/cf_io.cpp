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

boost::system::error_code errno_code(int err) {
  return boost::system::error_code(err, boost::system::system_category());
}

enum class outcome_t { done, stalled, failed };

// Moves the whole buffer with call (::read or ::write), repeating interrupted calls; even an empty
// buffer makes one call, so a bad descriptor is still reported. A call that moves nothing while
// bytes remain is stalled (end of file for a read). err receives errno of a failed call.
template <typename byte_t, typename call_t>
outcome_t transfer_all(call_t call, int fd, byte_t* p, std::size_t rest, int& err) {
  for (;;) {
    ssize_t n = call(fd, p, rest);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return outcome_t::failed;
    }
    if (n == 0 && rest > 0) return outcome_t::stalled;
    p += n;
    rest -= static_cast<std::size_t>(n);
    if (rest == 0) return outcome_t::done;
  }
}

boost::system::error_code write_all(int fd, void const* data, std::size_t size) {
  int err = 0;
  outcome_t outcome = transfer_all(::write, fd, static_cast<char const*>(data), size, err);
  if (outcome == outcome_t::done) return boost::system::error_code();
  if (outcome == outcome_t::stalled) return qn::make_error_code(qn::EC_UNEXPECTED_ERROR);
  return errno_code(err);
}

struct fd_guard_t {
  int fd;
  ~fd_guard_t() { ::close(fd); }
};

}  // namespace

void cf_write_all(int fd, void const* data, std::size_t size) {
  boost::system::error_code ec = write_all(fd, data, size);
  if (ec) throw boost::system::system_error(ec, "write");
}

void cf_write_all(int fd, void const* data, std::size_t size, boost::system::error_code& ec) {
  boost::system::error_code result = write_all(fd, data, size);
  if (result) ec = result;
}

void cf_read_all(int fd, void* data, std::size_t size) {
  int err = 0;
  outcome_t outcome = transfer_all(::read, fd, static_cast<char*>(data), size, err);
  if (outcome == outcome_t::stalled) throw std::runtime_error("unexpected eof");
  if (outcome == outcome_t::failed) throw boost::system::system_error(errno_code(err), "read");
}

void cf_read_all(int fd, void* data, std::size_t size, boost::system::error_code& ec) {
  int err = 0;
  outcome_t outcome = transfer_all(::read, fd, static_cast<char*>(data), size, err);
  if (outcome == outcome_t::stalled)
    ec = qn::make_error_code(qn::EC_UNEXPECTED_EOF);
  else if (outcome == outcome_t::failed)
    ec = errno_code(err);
}

std::string cf_read_file(std::string const& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw boost::filesystem::filesystem_error("open", boost::filesystem::path(path), errno_code(errno));
  fd_guard_t guard{fd};

  struct stat st;
  if (::fstat(fd, &st) != 0) throw boost::system::system_error(errno_code(errno), "fstat");

  // The read runs even for size 0: a directory must fail whatever size its file system reports.
  std::string result(static_cast<std::size_t>(st.st_size), '\0');
  cf_read_all(fd, &result[0], result.size());
  return result;
}
