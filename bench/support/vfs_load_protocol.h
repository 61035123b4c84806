#pragma once

// The VFS module's side of the daemon's module socket, for the load generator: a hello for the
// share, then open events of the given files; every verdict must allow access. Frames are made
// once, and requests and replies are then made and checked by copying and comparing bytes, so
// that the generator costs little next to the server it drives.

#include <string>
#include <vector>

#include "bench/support/bench_sandbox.h"
#include "bench/support/load_generator.h"

class vfs_load_protocol_t : public load_generator_t::protocol_t {
 public:
  // Paths are as the module sees them: inside the daemon's chroot folder `chroot`.
  vfs_load_protocol_t(std::string const& tag, std::string const& chroot, std::string const& basedir,
                      std::vector<bench_sandbox_t::file_t> const& files);

  std::string greeting() const override { return hello; }
  std::size_t greeting_replies() const override { return 1; }  // the share settings
  void append_request(std::string& out, std::uint32_t serial, std::size_t file) const override;
  std::string check_reply(char const* body, std::size_t size, std::uint32_t serial) const override;

  // A frame allowing access to the request `serial`.
  static std::string verdict_frame(std::uint32_t serial);

  // A frame and where its serial's four bytes stand in it.
  struct framed_t {
    std::string bytes;
    std::size_t serial_at;
  };

 private:
  std::string hello;
  std::vector<framed_t> requests;  // one open event per file
  framed_t verdict;
};
