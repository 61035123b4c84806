#pragma once

// A folder of the test's own under /tmp, removed with everything in it when the object goes.

#include <string>

class test_sandbox_t {
 public:
  test_sandbox_t();
  ~test_sandbox_t();
  test_sandbox_t(test_sandbox_t const&) = delete;
  test_sandbox_t& operator=(test_sandbox_t const&) = delete;

  std::string const& path() const { return dir; }
  // path() + "/" + name; nothing is created.
  std::string file(std::string const& name) const { return dir + "/" + name; }
  // Writes content to file(name), created or truncated; returns its path.
  std::string write(std::string const& name, std::string const& content) const;

 private:
  std::string dir;
};
