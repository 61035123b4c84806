#include "kson/transport_stream.h"

#include <stdexcept>

#include "kson/stream.h"

namespace kson {

transport_stream_t::transport_stream_t() : reader_(kson_frame_reader_new(&dispatch_message, this)) {
  if (!reader_) throw std::runtime_error("failed to create stream");
}

transport_stream_t::~transport_stream_t() { kson_frame_reader_free(reader_); }

bool transport_stream_t::process(std::vector<char> const& bytes) { return process(bytes.data(), bytes.size()); }

bool transport_stream_t::process(char const* data, size_t size) { return kson_frame_reader_feed(reader_, data, size); }

bool transport_stream_t::process_some(char const* data, size_t size, size_t& used) {
  return kson_frame_reader_feed_some(reader_, data, size, &used);
}

void transport_stream_t::pause() { kson_frame_reader_stop(reader_); }

void transport_stream_t::set_frame_limit(size_t max_length) { kson_frame_reader_limit(reader_, max_length); }

bool transport_stream_t::serialize(serializable_t const& object, std::vector<char>& out) {
  void* context = const_cast<serializable_t*>(&object);
  size_t frame_size = 0;
  if (!kson_frame_size(&serialize_body, context, &frame_size)) return false;
  size_t old_size = out.size();
  out.resize(old_size + frame_size);
  bool ok = false;
  try {
    ok = kson_frame_write(&serialize_body, context, out.data() + old_size, frame_size);
  } catch (...) {
    out.resize(old_size);
    throw;
  }
  if (!ok) out.resize(old_size);
  return ok;
}

bool transport_stream_t::serialize_body(kson_writer_t* writer, void* object) {
  stream_t parent(writer);
  struct detacher {
    stream_t& stream;
    ~detacher() { stream.detach(); }
  } keep_root_open{parent};
  return static_cast<serializable_t const*>(object)->serialize(parent);
}

bool transport_stream_t::dispatch_message(kson_parser_t* parser, void* stream) {
  parser_t handle(parser);
  static_cast<transport_stream_t*>(stream)->on_message(handle);
  handle.release();
  return true;
}

}  // namespace kson
