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
  // Returns once the file system's clock has moved on from every change made so far, so that the next
  // change gets a later change time also where times are stamped with a coarse clock tick. It changes
  // a file of the sandbox's own: the sandbox must not lie under what the next change is told from.
  void await_clock_tick() const;

 private:
  std::string dir;
};
