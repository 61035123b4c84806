// Bytes from a VFS module, written into a real connection to the daemon's socket in the
// sandbox, in pieces of (first byte + 1) * 16 bytes with the loop run between them. The share
// folder holds one file, (1, 1) is a file known clean, and the file checker is unavailable, so
// hellos, writes, cached and scanned verdicts and the default verdict all run. Whatever the
// daemon answers must read as share settings or verdicts of 1 or 2; no exception may leave it.

#include "tests/fuzz/app_harness.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  fuzz_app_t fuzz(true);
  // The threats subscription is connected by now; the proxy scanner learns there is no file checker.
  fuzz.fcheck_answer = fuzz_configd_body("tag: GET_FCHECK_RESPONSE error { code: EC_NO_FILE_CHECK }");
  std::shared_ptr<qn::RemoteUser> none;
  fuzz.app->file_cache->is_clean(1, 1, none);
  fuzz.app->file_cache->store_check_result(1, 1, true, sm_clock_t::steady::now());
  int const module = fuzz.module();

  size_t const piece = (data[0] + 1) * 16;
  for (size_t pos = 1; pos < size; pos += piece)
    fuzz.feed(module, std::string(data + pos, data + std::min(size, pos + piece)));
  ::shutdown(module, SHUT_WR);
  fuzz.pump();

  // The daemon's frames are shorter than 64 KiB.
  std::string out(1 << 16, '\0');
  out.resize(std::max<ssize_t>(0, ::recv(module, &out[0], out.size(), MSG_DONTWAIT)));
  for (size_t pos = 0, n;
       pos + 4 <= out.size() && pos + 4 + (n = uint8_t(out[pos]) | uint8_t(out[pos + 1]) << 8) <= out.size();
       pos += 4 + n) {
    kson::parser_t parser(&out[pos + 4], n);
    sm_module_msg_t msg;
    FUZZ_CHECK(msg.deserialize(parser) && (msg.type == msg.TYPE_SHARE_SETTINGS ||
                                           (msg.type == msg.TYPE_VERDICT && (msg.verdict == 1 || msg.verdict == 2))));
  }
  return 0;
}
