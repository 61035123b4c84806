#pragma once

// A VFS module's end of the daemon's module socket, driven frame by frame, for the benchmarks that
// look at the daemon process rather than at a load.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// Throws when nothing takes the connection.
int module_connect(std::string const& path);

// Sends as much as the daemon takes; stops once it has taken nothing for `idle_ms` (0: sends only
// what fits at once).
std::size_t module_push(int fd, std::string const& bytes, int idle_ms = 1000);

// Reads until `count` frames have come, the daemon closes the connection, or nothing has come for
// `idle_ms` (-1: no limit); each frame's body goes to `bodies` when given. Bytes past the last
// frame counted are dropped, so a caller asks for every frame under way.
std::size_t module_read_frames(int fd, std::size_t count, int idle_ms = -1, std::vector<std::string>* bodies = nullptr);

// The process at the other end: the daemon.
pid_t module_peer_pid(int fd);
