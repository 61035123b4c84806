// Speed of the VFS-module wire format: encoding a verdict frame, decoding a
// file-event frame, and feeding a stream of frames to the frame reader in the
// connection's 5120-byte reads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kson/kson_parser.h"
#include "kson/parser.h"
#include "kson/transport_stream.h"
#include "vfs_link/sm_module_msg.h"

namespace {

sm_module_msg_t file_event(uint32_t serial) {
  sm_module_msg_t msg;
  msg.type = sm_module_msg_t::TYPE_FILE_EVENT;
  msg.tag = "share";
  msg.serial = serial;
  msg.path = "/srv/share/" + std::string(200 - 11, 'p');
  msg.dev = 2049;
  msg.has_dev = true;
  msg.ino = 1234567;
  msg.has_ino = true;
  msg.op = sm_module_msg_t::OP_OPEN;
  return msg;
}

std::vector<char> frame_of(sm_module_msg_t const& msg) {
  std::vector<char> out;
  kson::transport_stream_t::serialize(msg, out);
  return out;
}

void BM_encode_verdict_frame(benchmark::State& state) {
  std::vector<char> out;
  out.reserve(64);
  uint32_t serial = 0;
  for (auto _ : state) {
    out.clear();
    bool ok = kson::transport_stream_t::serialize(sm_module_msg_t::make_verdict(++serial, 2), out);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_encode_verdict_frame);

// The core decoder alone: the tree of a file-event body.
void BM_decode_file_event_tree(benchmark::State& state) {
  std::vector<char> frame = frame_of(file_event(7));
  for (auto _ : state) {
    kson_parser_t* parser = kson_parser_new(frame.data() + 4, frame.size() - 4);
    kson_node_t* root = nullptr;
    int rc = kson_parser_parse(parser, &root);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(root);
    kson_parser_free(parser);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_decode_file_event_tree);

// Decoding into the message, as the connection does.
void BM_decode_file_event_message(benchmark::State& state) {
  std::vector<char> frame = frame_of(file_event(7));
  sm_module_msg_t msg;
  for (auto _ : state) {
    kson::parser_t parser(frame.data() + 4, frame.size() - 4);
    bool ok = msg.deserialize(parser);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_decode_file_event_message);

class counting_stream_t : public kson::transport_stream_t {
 public:
  void on_message(kson::parser_t& parser) override {
    if (decode_) {
      messages_ += msg_.deserialize(parser) ? 1 : 0;
    } else {
      ++messages_;
    }
  }
  explicit counting_stream_t(bool decode) : decode_(decode) {}
  size_t messages_ = 0;

 private:
  bool decode_;
  sm_module_msg_t msg_;
};

// A stream of file-event frames cut into 5120-byte reads; range(0) says whether
// each frame is also decoded into a message.
void BM_frame_reader_5120_byte_reads(benchmark::State& state) {
  constexpr size_t frames = 1000;
  std::vector<char> stream;
  for (size_t i = 0; i < frames; ++i)
    kson::transport_stream_t::serialize(file_event(static_cast<uint32_t>(i + 1)), stream);
  std::vector<std::vector<char>> reads;
  for (size_t pos = 0; pos < stream.size(); pos += 5120)
    reads.emplace_back(stream.begin() + pos, stream.begin() + std::min(stream.size(), pos + 5120));
  bool decode = state.range(0) != 0;
  for (auto _ : state) {
    counting_stream_t reader(decode);
    for (auto const& read : reads) reader.process(read);
    if (reader.messages_ != frames) state.SkipWithError("frames lost");
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frames));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_frame_reader_5120_byte_reads)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
