// Arbitrary bytes through the frame reader (in reads of varying size) into a
// transport stream whose frames are read as VFS-module messages.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kson/kson_frame.h"
#include "kson/transport_stream.h"
#include "tests/fuzz/message_check.h"

namespace {

// The reader allocates what a frame announces; keeping announcements below this
// keeps the fuzzer's own allocation limit from reporting that as a finding.
constexpr size_t announced_limit = 1 << 20;

class message_stream_t : public kson::transport_stream_t {
 public:
  void on_message(kson::parser_t& parser) override {
    ++frames;
    fuzz_check_message(parser);
  }
  size_t frames = 0;
};

// How much of the input to feed: up to the first length field that announces too much.
size_t feedable(uint8_t const* data, size_t size, size_t* complete_frames) {
  size_t pos = 0;
  *complete_frames = 0;
  while (size - pos >= 4) {
    size_t n = data[pos] | data[pos + 1] << 8 | size_t{data[pos + 2]} << 16 | size_t{data[pos + 3]} << 24;
    if (n > announced_limit) return pos;
    if (size - pos - 4 < n) return size;
    pos += 4 + n;
    if (n > 0) ++*complete_frames;
  }
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  size_t read_size = data[0] + 1;
  ++data;
  --size;
  size_t complete = 0;
  size = feedable(data, size, &complete);

  message_stream_t stream;
  for (size_t pos = 0; pos < size; pos += read_size) {
    size_t n = size - pos < read_size ? size - pos : read_size;
    std::vector<char> bytes(data + pos, data + pos + n);
    FUZZ_CHECK(stream.process(bytes));
  }
  FUZZ_CHECK(stream.frames == complete);

  // The same bytes fed whole to the core reader give the same frames.
  size_t frames = 0;
  kson_frame_reader_t* reader = kson_frame_reader_new(
      [](kson_parser_t* parser, void* count) {
        ++*static_cast<size_t*>(count);
        return kson_parser_parse(parser, nullptr) <= 4;
      },
      &frames);
  FUZZ_CHECK(reader);
  FUZZ_CHECK(kson_frame_reader_feed(reader, reinterpret_cast<char const*>(data), size));
  FUZZ_CHECK(frames == complete);
  kson_frame_reader_free(reader);
  return 0;
}
