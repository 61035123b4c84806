#pragma once

#include <vector>

#include "kson/kson_frame.h"
#include "kson/parser.h"
#include "kson/serializable.h"

namespace kson {

// Turns a byte stream into kson frames and hands each complete frame to on_message.
class transport_stream_t {
 public:
  transport_stream_t();
  virtual ~transport_stream_t();

  transport_stream_t(transport_stream_t const&) = delete;
  transport_stream_t& operator=(transport_stream_t const&) = delete;

  // Feeds the bytes; on_message runs for every frame they complete, in order. False
  // only when memory or a parser cannot be had; the partial frame is then dropped.
  bool process(std::vector<char> const& bytes);
  bool process(char const* data, size_t size);
  // As process, but stops after a frame whose on_message called pause(); `used` counts the bytes
  // taken, and the rest are to be fed again later.
  bool process_some(char const* data, size_t size, size_t& used);

  // Receives a parser over one frame's body, not parsed yet; nothing of it may be
  // kept after return.
  virtual void on_message(parser_t& parser) = 0;

  // Appends one frame holding the object; out is left as it was on failure.
  static bool serialize(serializable_t const& object, std::vector<char>& out);

  static bool serialize_body(kson_writer_t* writer, void* object);
  static bool dispatch_message(kson_parser_t* parser, void* stream);

 protected:
  // A frame announcing a body longer than this makes process() fail; 0 for no bound.
  void set_frame_limit(size_t max_length);
  // From on_message: the process_some under way returns once this frame is handled.
  void pause();

 private:
  kson_frame_reader_t* reader_;
};

}  // namespace kson
