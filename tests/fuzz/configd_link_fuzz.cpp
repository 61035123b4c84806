// ConfigD's messages through the real link into a real application object, then ConfigD
// closing the socket. The daemon ends itself over bad input by throwing a bare qn::ErrorCode:
// 1, 12 or 102 are expected outcomes, and one of them must come at the latest when ConfigD has
// gone. Any other exception, crash or sanitizer report is a finding.
//
// Input: records of a 2-byte little-endian length and a message body; a record of length 0 is
// a frame header announcing 0 bytes. A body that parses has its paths kept in the sandbox and
// its log sinks sent to /dev/null before it goes out; one that does not goes out unchanged.

#include "tests/fuzz/app_harness.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  fuzz_app_t fuzz(false);
  int code = 0;
  try {
    for (size_t n; size >= 2; data += 2 + n, size -= 2 + n) {
      n = std::min<size_t>(data[0] | data[1] << 8, size - 2);
      std::string body(data + 2, data + 2 + n);
      qn::Configd2SMBGardixMessage message;
      if (message.ParsePartialFromString(body)) {
        if (message.has_socket_path()) message.set_socket_path(fuzz_confine(message.socket_path()));
        if (message.has_config()) {
          qn::SMBGardixConfig& config = *message.mutable_config();
          // An empty chroot folder stands for the root.
          config.set_samba_chroot_dir(
              fuzz_confine(config.samba_chroot_dir().empty() ? "/" : config.samba_chroot_dir()));
          config.set_smb_socket_path(fuzz_confine(config.smb_socket_path()));
          // Without a log entry, or without its type, the daemon logs to syslog.
          qn::Log& log = *config.mutable_actual_log();
          if (log.type() != qn::Log::AUTO) log.set_type(qn::Log::FILE), log.set_path("/dev/null");
        }
        body = message.SerializePartialAsString();
      }
      fuzz.feed(fuzz.configd, n ? kson_test::frame(body) : std::string(4, '\0'));
    }
    ::shutdown(fuzz.configd, SHUT_WR);
    fuzz.pump();
  } catch (qn::ErrorCode thrown) {
    code = thrown;
  }
  FUZZ_CHECK(code == qn::EC_MONITOR_IPC_ERROR || code == qn::EC_PROTOCOL_VIOLATION || code == qn::EC_BAD_CONFIG);
  return 0;
}
