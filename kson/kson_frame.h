#pragma once
// kson frames: a 4-byte little-endian body length, then one kson value. Encoding
// measures the body on a counting writer, then writes it in place; the frame
// reader collects frames from a byte stream and hands each one to a callback.

#include <cstddef>
#include <cstdint>

#include "kson/kson_parser.h"
#include "kson/kson_writer.h"

// Writes one frame body into the writer; must write the same bytes on every call.
typedef bool (*kson_write_callback_t)(kson_writer_t* writer, void* context);
// Receives one complete frame as a parser that has not parsed yet; the result is ignored.
typedef bool (*kson_frame_callback_t)(kson_parser_t* parser, void* context);

struct kson_frame_reader_t {
  kson_frame_callback_t callback;
  void* context;
  uint32_t length;
  uint32_t length_bytes;  // 0 to 4
  char* body;             // null until the body's first bytes arrive
  size_t body_length;
  size_t body_received;
  size_t body_capacity;  // grows with the bytes received, up to body_length
  size_t max_length;     // largest body accepted; 0 for no bound
  bool stop;             // a callback asked the feed under way to return after its frame
};

bool kson_frame_size(kson_write_callback_t callback, void* context, size_t* out);
bool kson_frame_write(kson_write_callback_t callback, void* context, void* frame, size_t size);
void* kson_frame_new(kson_write_callback_t callback, void* context, size_t* out_size);

kson_frame_reader_t* kson_frame_reader_new(kson_frame_callback_t callback, void* context);
void kson_frame_reader_free(kson_frame_reader_t* reader);
// From now on a frame announcing a longer body fails the feed before anything is
// allocated for it. 0 lifts the bound.
void kson_frame_reader_limit(kson_frame_reader_t* reader, size_t max_length);
bool kson_frame_reader_feed(kson_frame_reader_t* reader, char const* data, size_t size);
// As kson_frame_reader_feed, but a callback may stop it (kson_frame_reader_stop) after the frame it
// was given; *used then counts the bytes taken, and the rest are to be fed again later.
bool kson_frame_reader_feed_some(kson_frame_reader_t* reader, char const* data, size_t size, size_t* used);
// From a callback: the feed under way returns once this frame is delivered.
void kson_frame_reader_stop(kson_frame_reader_t* reader);
bool kson_frame_reader_complete(kson_frame_reader_t* reader);
