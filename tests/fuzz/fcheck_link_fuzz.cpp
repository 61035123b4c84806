// The file checker's messages, built from the input, over the real connections of the daemon's
// threats subscription and of a share's proxy scanner, which waits with two scans for a VFS
// module's requests. Each step picks a tag among the 30 (two more values send the module
// another open request instead), the connection, which fields are present (serial, error, scan
// report, threat id, history id, database path; the tag itself may be missing) and raw bytes
// to append (extra or repeated fields, or garbage). Report objects and database paths stay in
// the sandbox. No exception may leave the daemon.

#include <fuzzer/FuzzedDataProvider.h>

#include "tests/fuzz/app_harness.h"

namespace {

template <class Enum>
Enum pick(FuzzedDataProvider& in, google::protobuf::EnumDescriptor const* (*type)()) {
  return static_cast<Enum>(type()->value(in.ConsumeIntegralInRange(0, type()->value_count() - 1))->number());
}

void fill_report(FuzzedDataProvider& in, qn::ScanReport& report, int depth) {
  uint8_t const shape = in.ConsumeIntegral<uint8_t>();
  std::string const object =
      fuzz_box() + (shape & 1 ? "/share/file.txt" : "/share/missing") + std::string("\0x", shape & 2 ? 2 : 0);
  report.set_object(depth ? in.ConsumeBytesAsString(shape & 7) : shape & 4 ? "" : object);
  if (shape & 8) report.set_error(pick<qn::ScanError>(in, qn::ScanError_descriptor));
  if (shape & 16) report.mutable_archive()->set_name(in.ConsumeBytesAsString(3));
  if (shape & 16) report.mutable_archive()->set_type(pick<qn::ArchiveType>(in, qn::ArchiveType_descriptor));
  if (shape & 32 && depth < 2) fill_report(in, *report.add_item(), depth + 1);
  for (int i = shape >> 6; i > 0; --i) report.add_virus()->set_name(in.ConsumeBytesAsString(2));
  for (qn::Virus& virus : *report.mutable_virus()) virus.set_type(pick<qn::VirusType>(in, qn::VirusType_descriptor));
}

std::string build(FuzzedDataProvider& in, int tag) {
  uint8_t const fields = in.ConsumeIntegral<uint8_t>();
  fc::ServerMessage msg;
  if (!(fields & 128)) msg.set_tag(static_cast<fc::ServerMessage::ServerMessageTag>(tag));
  if (fields & 1) msg.set_serial(in.ConsumeIntegral<uint8_t>());
  if (fields & 2) msg.mutable_error()->set_code(pick<qn::ErrorCode>(in, qn::ErrorCode_descriptor));
  if (fields & 4) fill_report(in, *msg.mutable_scan_report(), 0);
  if (fields & 8) msg.set_threat_id(in.ConsumeIntegral<int8_t>());
  if (fields & 16) msg.set_history_id(in.ConsumeIntegral<uint8_t>());
  if (fields & 32) msg.set_dbpath(fuzz_box() + "/none/" + fuzz_confine(in.ConsumeBytesAsString(4)));
  std::string const body = msg.SerializePartialAsString();
  return fields & 64 ? body + in.ConsumeBytesAsString(in.ConsumeIntegral<uint8_t>()) : body;
}

// A hello (serial 0) or an open or read request for the share's file.
std::string module_frame(uint32_t op, uint32_t serial, uint64_t id) {
  sm_module_msg_t msg;
  msg.type = serial ? msg.TYPE_FILE_EVENT : msg.TYPE_HELLO, msg.op = op, msg.serial = serial, msg.tag = "Share_B";
  msg.basedir = "/share", msg.path = "/share/file.txt", msg.dev = msg.ino = id, msg.has_dev = msg.has_ino = serial;
  std::vector<char> out;
  FUZZ_CHECK(kson::transport_stream_t::serialize(msg, out));
  return std::string(out.begin(), out.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  fuzz_app_t fuzz(true);
  int const module = fuzz.module();
  fuzz.feed(module, module_frame(0, 0, 0) + module_frame(sm_module_msg_t::OP_OPEN, 7, 2) +
                        module_frame(sm_module_msg_t::OP_READ, 8, 3));
  FUZZ_CHECK(fuzz.fcheck.size() == 2);

  // Choices come from the end of the input, byte strings from its front.
  FuzzedDataProvider in(data, size);
  auto const* tags = fc::ServerMessage::ServerMessageTag_descriptor();
  while (in.remaining_bytes()) {
    int const tag = in.ConsumeIntegralInRange(0, tags->value_count() + 1);
    int const link = fuzz.fcheck[fuzz.fcheck.size() - 1 - in.ConsumeBool()];
    if (tag < tags->value_count())
      fuzz.feed(link, kson_test::frame(build(in, tags->value(tag)->number())));
    else
      fuzz.feed(module, module_frame(sm_module_msg_t::OP_OPEN, in.ConsumeIntegral<uint8_t>(), 4));
  }
  fuzz.pump();
  ::unlink((fuzz_box() + "/share/file.txt" + sm_threat_handler_t::alert_suffix).c_str());
  return 0;
}
