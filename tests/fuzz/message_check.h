#pragma once
// Properties of the VFS-module message over one frame body.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kson/parser.h"
#include "kson/transport_stream.h"
#include "vfs_link/sm_module_msg.h"

// A failed property aborts, which libFuzzer reports as a finding.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

inline bool fuzz_same_message(sm_module_msg_t const& a, sm_module_msg_t const& b) {
  return a.type == b.type && a.tag == b.tag && a.basedir == b.basedir && a.serial == b.serial && a.path == b.path &&
         a.user == b.user && a.domain == b.domain && a.ip == b.ip && a.has_dev == b.has_dev &&
         (!a.has_dev || a.dev == b.dev) && a.has_ino == b.has_ino && (!a.has_ino || a.ino == b.ino) && a.op == b.op &&
         a.verdict == b.verdict && a.excluded_paths == b.excluded_paths && a.included_paths == b.included_paths;
}

// A message that reads must write back, when it fits a short object, and read
// back the same.
inline void fuzz_check_message(kson::parser_t& parser) {
  sm_module_msg_t msg;
  if (!msg.deserialize(parser)) return;
  std::vector<char> frame{'x'};
  bool written = kson::transport_stream_t::serialize(msg, frame);
  size_t pairs = msg.excluded_paths.size() + msg.included_paths.size() + (msg.type != 0) + !msg.tag.empty() +
                 !msg.basedir.empty() + (msg.serial != 0) + !msg.path.empty() + !msg.user.empty() +
                 !msg.domain.empty() + !msg.ip.empty() + msg.has_dev + msg.has_ino + (msg.op != 0) + (msg.verdict != 0);
  FUZZ_CHECK(written == (pairs <= 255));
  if (!written) {
    FUZZ_CHECK(frame.size() == 1);
    return;
  }
  FUZZ_CHECK(frame.size() > 5);
  size_t length = static_cast<unsigned char>(frame[1]) | static_cast<unsigned char>(frame[2]) << 8 |
                  static_cast<size_t>(static_cast<unsigned char>(frame[3])) << 16 |
                  static_cast<size_t>(static_cast<unsigned char>(frame[4])) << 24;
  FUZZ_CHECK(length == frame.size() - 5);
  kson::parser_t again(frame.data() + 5, length);
  sm_module_msg_t copy;
  FUZZ_CHECK(copy.deserialize(again));
  FUZZ_CHECK(fuzz_same_message(msg, copy));
}
