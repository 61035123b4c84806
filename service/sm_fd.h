#pragma once

// A descriptor closed when it goes out of scope, so that no way out of a walk leaks one.

class sm_fd_t {
 public:
  explicit sm_fd_t(int fd = -1) : fd(fd) {}
  ~sm_fd_t();
  sm_fd_t(sm_fd_t const&) = delete;
  sm_fd_t& operator=(sm_fd_t const&) = delete;

  int get() const { return fd; }
  bool valid() const { return fd >= 0; }
  // Closes the descriptor held and takes `other`.
  void reset(int other = -1);

 private:
  int fd;
};
