// Arbitrary bytes through the frame reader, in reads of (first byte + 1) bytes and whole: the same
// frames either way, as many as the input completes, each read as a VFS-module message.

#include <algorithm>

#include "kson/kson_frame.h"
#include "tests/fuzz/message_check.h"

namespace {

std::vector<std::string> frames(uint8_t const* data, size_t size, size_t piece) {
  std::vector<std::string> bodies;
  kson_frame_reader_t* reader = kson_frame_reader_new(
      [](kson_parser_t* parser, void* out) {
        static_cast<std::vector<std::string>*>(out)->emplace_back(parser->data, parser->size);
        return true;
      },
      &bodies);
  for (size_t at = 0; at < size; at += piece)  // copied, so that reading past a piece is seen
    FUZZ_CHECK(kson_frame_reader_feed(reader, std::vector<char>(data + at, data + std::min(size, at + piece)).data(),
                                      std::min(piece, size - at)));
  kson_frame_reader_free(reader);
  return bodies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size-- < 1) return 0;
  size_t const piece = *data++ + 1;
  // A frame's body grows with what arrives, so that a length field announcing gigabytes holds no
  // more than the input.
  size_t complete = 0;
  for (size_t at = 0, n;
       size - at >= 4 &&
       size - at - 4 >= (n = data[at] | data[at + 1] << 8 | size_t{data[at + 2]} << 16 | size_t{data[at + 3]} << 24);
       at += 4 + n)
    complete += n > 0;
  std::vector<std::string> const bodies = frames(data, size, piece);
  FUZZ_CHECK(bodies.size() == complete && bodies == frames(data, size, size + 1));
  for (std::string const& body : bodies) {
    kson::parser_t parser(body.data(), body.size());
    fuzz_check_message(parser);
  }
  return 0;
}
