#include "service/sm_fd.h"

#include <unistd.h>

sm_fd_t::~sm_fd_t() { reset(); }

void sm_fd_t::reset(int other) {
  if (fd >= 0) ::close(fd);
  fd = other;
}
