#include "tests/support/sandbox.h"

#include <stdlib.h>

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
