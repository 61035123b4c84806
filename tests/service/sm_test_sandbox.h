#pragma once

// A folder of the test's own under /tmp, removed with its contents afterwards.

#include <stdlib.h>

#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

class sm_test_sandbox_t {
 public:
  sm_test_sandbox_t() {
    char pattern[] = "/tmp/qn-service-XXXXXX";
    if (::mkdtemp(pattern)) dir = pattern;
  }
  ~sm_test_sandbox_t() {
    boost::system::error_code ignored;
    if (!dir.empty()) boost::filesystem::remove_all(dir, ignored);
  }
  sm_test_sandbox_t(sm_test_sandbox_t const&) = delete;
  sm_test_sandbox_t& operator=(sm_test_sandbox_t const&) = delete;

  boost::filesystem::path const& path() const { return dir; }
  boost::filesystem::path operator/(std::string const& name) const { return dir / name; }

 private:
  boost::filesystem::path dir;
};
