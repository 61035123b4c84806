#include "tests/support/sandbox.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

test_sandbox_t::test_sandbox_t() {
  char pattern[] = "/tmp/qn-test-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  dir = pattern;
}

test_sandbox_t::~test_sandbox_t() {
  boost::system::error_code ignored;
  boost::filesystem::remove_all(dir, ignored);
}

std::string test_sandbox_t::write(std::string const& name, std::string const& content) const {
  std::string const path = file(name);
  if (!(std::ofstream(path, std::ios::binary) << content).flush()) throw std::runtime_error("cannot write " + path);
  return path;
}

void test_sandbox_t::await_clock_tick() const {
  int const fd = ::open(file(".clock").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  struct stat first = {}, now = {};
  // Changed first, so that its time is the clock's now, not that of an earlier call.
  if (::fchmod(fd, 0600) != 0 || ::fstat(fd, &first) != 0) throw std::runtime_error("cannot stat " + file(".clock"));
  auto const moved = [&] {
    return now.st_ctim.tv_sec != first.st_ctim.tv_sec || now.st_ctim.tv_nsec != first.st_ctim.tv_nsec;
  };
  // A tick is a few milliseconds at most.
  for (int i = 0; i < 10000000 && !moved(); ++i) ::fchmod(fd, i % 2 ? 0600 : 0644), ::fstat(fd, &now);
  ::close(fd);
  if (!moved()) throw std::runtime_error("the file system's clock stands still");
}
