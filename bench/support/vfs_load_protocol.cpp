#include "bench/support/vfs_load_protocol.h"

#include <cstring>
#include <stdexcept>

#include "kson/transport_stream.h"
#include "vfs_link/sm_module_msg.h"

namespace {

std::string frame_of(sm_module_msg_t const& msg) {
  std::vector<char> frame;
  if (!kson::transport_stream_t::serialize(msg, frame)) throw std::runtime_error("cannot encode a module message");
  return std::string(frame.begin(), frame.end());
}

// The serial is the only field that differs between two frames that differ in it alone.
vfs_load_protocol_t::framed_t with_serial(sm_module_msg_t msg) {
  msg.serial = 0x01010101;
  std::string const first = frame_of(msg);
  msg.serial = 0x02020202;
  std::string const second = frame_of(msg);
  std::size_t at = 0;
  while (at < first.size() && first[at] == second[at]) ++at;
  if (first.size() != second.size() || at + 4 > first.size() ||
      first.compare(at + 4, std::string::npos, second, at + 4))
    throw std::runtime_error("no serial field found in a module message");
  return vfs_load_protocol_t::framed_t{first, at};
}

void put_serial(char* at, std::uint32_t serial) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(serial >> 8 * i);
}

}  // namespace

vfs_load_protocol_t::vfs_load_protocol_t(std::string const& tag, std::string const& chroot, std::string const& basedir,
                                         std::vector<bench_sandbox_t::file_t> const& files)
    : verdict(with_serial(sm_module_msg_t::make_verdict(1, sm_module_msg_t::VERDICT_ALLOWED))) {
  sm_module_msg_t msg;
  msg.type = sm_module_msg_t::TYPE_HELLO;
  msg.tag = tag;
  msg.basedir = basedir;
  hello = frame_of(msg);
  msg.type = sm_module_msg_t::TYPE_FILE_EVENT;
  msg.basedir.clear();
  msg.op = sm_module_msg_t::OP_OPEN;
  msg.has_dev = msg.has_ino = true;
  for (auto const& file : files) {
    if (file.path.compare(0, chroot.size(), chroot) != 0) throw std::runtime_error(file.path + " is outside " + chroot);
    msg.path = file.path.substr(chroot.size());
    msg.dev = file.dev;
    msg.ino = file.ino;
    requests.push_back(with_serial(msg));
  }
  // Replies are checked without their length field.
  verdict.bytes.erase(0, 4);
  verdict.serial_at -= 4;
}

void vfs_load_protocol_t::append_request(std::string& out, std::uint32_t serial, std::size_t file) const {
  framed_t const& request = requests[file % requests.size()];
  out += request.bytes;
  put_serial(&out[out.size() - request.bytes.size() + request.serial_at], serial);
}

std::string vfs_load_protocol_t::check_reply(char const* body, std::size_t size, std::uint32_t serial) const {
  std::string const& want = verdict.bytes;
  std::size_t const at = verdict.serial_at;
  if (size != want.size() || std::memcmp(body, want.data(), at) != 0 ||
      std::memcmp(body + at + 4, want.data() + at + 4, size - at - 4) != 0)
    return "a reply that is no verdict allowing access";
  char expected[4];
  put_serial(expected, serial);
  if (serial != 0 && std::memcmp(body + at, expected, 4) != 0) return "a verdict out of order";
  return "";
}

std::string vfs_load_protocol_t::verdict_frame(std::uint32_t serial) {
  return frame_of(sm_module_msg_t::make_verdict(serial, sm_module_msg_t::VERDICT_ALLOWED));
}
