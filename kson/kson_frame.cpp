#include "kson/kson_frame.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Callbacks may be C++ code that throws; these keep the core from leaking then.
struct writer_closer {
  void operator()(kson_writer_t* writer) const { kson_writer_close(writer); }
};
struct body_freer {
  void operator()(char* body) const { std::free(body); }
};

void start_next_length(kson_frame_reader_t* reader) {
  reader->length = 0;
  reader->length_bytes = 0;
  reader->body = nullptr;
  reader->body_length = 0;
  reader->body_received = 0;
  reader->body_capacity = 0;
}

// Room for `more` further body bytes. The body grows with what has arrived, at least doubling, so
// that a peer announcing a long frame and sending little of it holds little.
bool make_room(kson_frame_reader_t* reader, size_t more) {
  size_t const needed = reader->body_received + more;
  if (needed <= reader->body_capacity) return true;
  size_t capacity = reader->body_capacity * 2;
  if (capacity < needed) capacity = needed;
  if (capacity > reader->body_length) capacity = reader->body_length;
  auto* body = static_cast<char*>(std::realloc(reader->body, capacity));
  if (!body) return false;
  reader->body = body;
  reader->body_capacity = capacity;
  return true;
}

bool deliver(kson_frame_reader_t* reader, char const* body, size_t length) {
  if (!reader->callback || length == 0) return true;
  kson_parser_t* parser = kson_parser_new(body, length);
  if (!parser) return false;
  reader->callback(parser, reader->context);
  kson_parser_free(parser);
  return true;
}

}  // namespace

bool kson_frame_size(kson_write_callback_t callback, void* context, size_t* out) {
  if (!callback) return false;
  std::unique_ptr<kson_writer_t, writer_closer> counter(kson_writer_new());
  if (!counter) return false;
  if (!callback(counter.get(), context)) return false;
  size_t body = kson_writer_size(counter.get());
  // The length field holds 32 bits.
  if (body == 0 || body > UINT32_MAX) return false;
  if (out) *out = 4 + body;
  return true;
}

bool kson_frame_write(kson_write_callback_t callback, void* context, void* frame, size_t size) {
  if (!callback || !frame || size < 5 || size - 4 > UINT32_MAX) return false;
  auto* bytes = static_cast<unsigned char*>(frame);
  size_t body = size - 4;
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(body >> (8 * i));
  std::unique_ptr<kson_writer_t, writer_closer> writer(kson_writer_new_buffer(bytes + 4, body));
  if (!writer) return false;
  return callback(writer.get(), context);
}

void* kson_frame_new(kson_write_callback_t callback, void* context, size_t* out_size) {
  size_t size = 0;
  if (!kson_frame_size(callback, context, &size)) return nullptr;
  void* frame = std::malloc(size);
  if (!frame) return nullptr;
  if (!kson_frame_write(callback, context, frame, size)) {
    std::free(frame);
    return nullptr;
  }
  if (out_size) *out_size = size;
  return frame;
}

kson_frame_reader_t* kson_frame_reader_new(kson_frame_callback_t callback, void* context) {
  auto* reader = static_cast<kson_frame_reader_t*>(std::calloc(1, sizeof(kson_frame_reader_t)));
  if (!reader) return nullptr;
  reader->callback = callback;
  reader->context = context;
  return reader;
}

void kson_frame_reader_free(kson_frame_reader_t* reader) {
  if (!reader) return;
  std::free(reader->body);
  std::free(reader);
}

void kson_frame_reader_limit(kson_frame_reader_t* reader, size_t max_length) {
  if (reader) reader->max_length = max_length;
}

bool kson_frame_reader_complete(kson_frame_reader_t* reader) {
  // The reader is ready for the next frame before the callback runs, so that a
  // callback that throws leaves it consistent and the body freed.
  std::unique_ptr<char, body_freer> body(reader->body);
  size_t length = reader->body_length;
  start_next_length(reader);
  return deliver(reader, body.get(), length);
}

bool kson_frame_reader_feed(kson_frame_reader_t* reader, char const* data, size_t size) {
  return kson_frame_reader_feed_some(reader, data, size, nullptr);
}

void kson_frame_reader_stop(kson_frame_reader_t* reader) {
  if (reader) reader->stop = true;
}

bool kson_frame_reader_feed_some(kson_frame_reader_t* reader, char const* data, size_t size, size_t* used) {
  if (used) *used = 0;
  if (!reader) return false;
  if (size == 0) return true;
  if (!data) return false;
  char const* const start = data;
  reader->stop = false;
  while (size > 0 && !reader->stop) {
    if (reader->length_bytes == 0 && size >= 4) {
      // A whole frame among the bytes given is parsed where it lies, without a body
      // to allocate and fill; anything else takes the byte-wise road below.
      uint32_t length = 0;
      for (int i = 0; i < 4; ++i) length |= uint32_t{static_cast<unsigned char>(data[i])} << (8 * i);
      bool allowed = length != 0 && (reader->max_length == 0 || length <= reader->max_length);
      if (allowed && size - 4 >= length) {
        char const* body = data + 4;
        data += 4 + size_t{length};
        size -= 4 + size_t{length};
        if (!deliver(reader, body, length)) return false;
        continue;
      }
    }
    if (reader->length_bytes < 4) {
      reader->length |= uint32_t{static_cast<unsigned char>(*data)} << (8 * reader->length_bytes);
      ++reader->length_bytes;
      ++data;
      --size;
      if (reader->length_bytes < 4) continue;
      reader->body_length = reader->length;
      if (reader->body_length == 0) {
        // An empty frame carries nothing and is dropped.
        start_next_length(reader);
        continue;
      }
      if (reader->max_length != 0 && reader->body_length > reader->max_length) {
        start_next_length(reader);
        return false;
      }
      continue;
    }
    size_t needed = reader->body_length - reader->body_received;
    size_t take = size < needed ? size : needed;
    if (!make_room(reader, take)) {
      std::free(reader->body);
      start_next_length(reader);
      return false;
    }
    std::memcpy(reader->body + reader->body_received, data, take);
    reader->body_received += take;
    data += take;
    size -= take;
    if (reader->body_received == reader->body_length && !kson_frame_reader_complete(reader)) return false;
  }
  reader->stop = false;
  if (used) *used = static_cast<size_t>(data - start);
  return true;
}
