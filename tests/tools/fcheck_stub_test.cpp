// The file-checker stand-in over its own socket, for what the daemon's end-to-end runs with it
// leave out: the well-known test file, refused operations and deletion.

#include <gtest/gtest.h>
#include <google/protobuf/text_format.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "fcheck_client_ipc.pb.h"
#include "framework/exe_info/cf_exe_info.h"
#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"

namespace {

// The next message in short text form without "tag: "; empty when nothing comes in time.
std::string receive(int fd) {
  std::uint32_t size = 0;  // little-endian, as this machine
  ::recv(fd, &size, 4, MSG_WAITALL);
  std::string body(size, '\0');
  fc::ServerMessage message;
  EXPECT_TRUE(::recv(fd, &body[0], body.size(), MSG_WAITALL) == ssize_t(body.size()) && message.ParseFromString(body));
  return message.ShortDebugString().erase(0, 5);
}

TEST(fcheck_stub, test_file_refused_operations_and_deletion) {
  test_sandbox_t box;
  std::string const stub = QN_BIN_DIR "/fcheck-stub", sock = box.file("fc.sock"), bad = box.file("test.com");
  ASSERT_EQ(0, run_program({stub, "--make-test-file", bad}, {}).status);
  EXPECT_EQ("\x44\xd8\x86\x12\xfe\xa8\xa8\xf3\x6d\xe8\x2e\x12\x78\xab\xb0\x2f", cf_file_md5(bad));  // well known
  test_child_t peer({stub, "--socket", sock}, test_child_t::environment());
  ASSERT_EQ("ready", peer.next_line());
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{AF_UNIX, {}};
  sock.copy(addr.sun_path, sizeof addr.sun_path - 1);
  timeval const bound{5, 0};
  ASSERT_EQ(0, ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) +
                   ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  // A request in text form after "tag: ", and the start of its reply. Notifications and the
  // quarantine are left to the daemon's end-to-end run.
  auto const op = [](std::string const& fields, std::string const& error) {
    return std::pair{"THREAT_OP_REQUEST " + fields, "THREATS_OP_RESPONSE " + fields + error};
  };
  for (auto const& [request, reply] : std::vector<std::pair<std::string, std::string>>{
           {"OPEN_PROXY origin: APP_SMB_GARDIX", ""},
           {"PROXY_SCAN_REQUEST serial: 1 path: \"" + bad + "\"", "PROXY_SCAN_RESPONSE serial: 1 scan_report"},
           {"THREAT_SYNC_REQUEST serial: 2 threat_id: -1", "THREAT_SYNC_RESPONSE serial: 2 threat_id: 1 history_id: 1"},
           op("serial: 3 threat_id: 1 op: THREAT_OP_CURE", " error { code: EC_CAN_NOT_BE_CURED"),
           op("serial: 4 threat_id: 1 op: THREAT_OP_DELETE", ""),
           op("serial: 5 threat_id: 2 op: THREAT_OP_DELETE", " error { code: EC_NO_SUCH_ENTRY")}) {
    fc::ClientMessage message;
    ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString("tag: " + request, &message)) << request;
    std::string const frame = configd_peer_t::frame(message.SerializeAsString());
    ASSERT_EQ(static_cast<ssize_t>(frame.size()), ::write(fd, frame.data(), frame.size()));
    EXPECT_EQ(reply, reply.empty() ? "" : receive(fd).substr(0, reply.size())) << request;
  }
  EXPECT_NE(0, ::access(bad.c_str(), F_OK));
  peer.signal(SIGTERM);
  EXPECT_EQ(0, peer.wait());
  EXPECT_NE(0, ::access(sock.c_str(), F_OK));
}

}  // namespace
