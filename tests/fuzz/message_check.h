#pragma once
// Properties of the VFS-module message over one frame body.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kson/transport_stream.h"
#include "vfs_link/sm_module_msg.h"

// A failed property aborts, which libFuzzer reports as a finding.
inline void fuzz_check(bool holds, char const* what, char const* file, int line) {
  if (!holds) std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what), std::abort();
}
#define FUZZ_CHECK(condition) fuzz_check(condition, #condition, __FILE__, __LINE__)

// A message that reads must write back when it fits a short object, to a frame that reads back to
// a message that writes the same frame.
inline void fuzz_check_message(kson::parser_t& parser) {
  sm_module_msg_t msg, copy;
  if (!msg.deserialize(parser)) return;
  size_t const pairs = msg.excluded_paths.size() + msg.included_paths.size() + (msg.type != 0) + !msg.tag.empty() +
                       !msg.basedir.empty() + (msg.serial != 0) + !msg.path.empty() + !msg.user.empty() +
                       !msg.domain.empty() + !msg.ip.empty() + msg.has_dev + msg.has_ino + (msg.op != 0) +
                       (msg.verdict != 0);
  std::vector<char> frame, again;
  FUZZ_CHECK(kson::transport_stream_t::serialize(msg, frame) == (pairs <= 255));
  if (frame.empty()) return;
  kson::parser_t body(frame.data() + 4, frame.size() - 4);
  FUZZ_CHECK(copy.deserialize(body) && kson::transport_stream_t::serialize(copy, again) && again == frame);
}
