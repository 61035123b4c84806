// The file-checker stand-in over its own socket, for what the daemon's end-to-end runs with it
// leave out: the well-known test file, refused operations, deletion and the notifications of a sync.

#include <gtest/gtest.h>
#include <google/protobuf/text_format.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "fcheck_client_ipc.pb.h"
#include "framework/exe_info/cf_exe_info.h"
#include "tests/support/child_process.h"
#include "tests/support/configd_peer.h"
#include "tests/support/sandbox.h"

namespace {

// The next message in short text form without "tag: "; empty when nothing comes in time.
std::string receive(int fd) {
  unsigned char h[4] = {};
  ::recv(fd, h, 4, MSG_WAITALL);
  std::string body(h[0] | h[1] << 8 | h[2] << 16 | std::size_t(h[3]) << 24, '\0');
  fc::ServerMessage message;
  EXPECT_TRUE(::recv(fd, &body[0], body.size(), MSG_WAITALL) == ssize_t(body.size()) && message.ParseFromString(body));
  return message.ShortDebugString().erase(0, 5);
}

TEST(fcheck_stub, test_file_refused_operations_deletion_and_notifications) {
  test_sandbox_t box;
  std::string const stub = QN_BIN_DIR "/fcheck-stub", sock = box.file("fc.sock"), bad = box.file("test.com");
  ASSERT_EQ(0, run_program({stub, "--make-test-file", bad}, {}).status);
  EXPECT_EQ("\x44\xd8\x86\x12\xfe\xa8\xa8\xf3\x6d\xe8\x2e\x12\x78\xab\xb0\x2f", cf_file_md5(bad));  // well known
  test_child_t peer({stub, "--socket", sock, "--db", box.file("t.db")}, test_child_t::environment());
  ASSERT_EQ("ready", peer.next_line());
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{AF_UNIX, {}};
  sock.copy(addr.sun_path, sizeof addr.sun_path - 1);
  timeval const bound{5, 0};
  ASSERT_EQ(0, ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) +
                   ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  // A request in text form after "tag: ", and the start of each reply in order.
  std::string const op = "THREATS_OP_RESPONSE serial: ";
  for (auto const& [request, replies] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"SUBSCRIBE_TO_THREATS", {"THREATS_SUBSCRIBED dbpath: \"" + box.file("t.db") + "\""}},
           {"OPEN_PROXY origin: APP_SMB_GARDIX", {}},
           {"PROXY_SCAN_REQUEST serial: 1 path: \"" + bad + "\"", {"PROXY_SCAN_RESPONSE serial: 1 scan_report"}},
           {"THREAT_SYNC_REQUEST serial: 2 threat_id: -1",
            {"THREAT_SYNC_RESPONSE serial: 2 threat_id: 1 history_id: 1", "THREATS_NOTIFICATION history_id: 1"}},
           {"THREAT_OP_REQUEST serial: 3 threat_id: 1 op: THREAT_OP_CURE",
            {op + "3 threat_id: 1 op: THREAT_OP_CURE error { code: EC_CAN_NOT_BE_CURED"}},
           {"THREAT_OP_REQUEST serial: 4 threat_id: 1 op: THREAT_OP_DELETE",
            {op + "4 threat_id: 1 op: THREAT_OP_DELETE", "THREATS_NOTIFICATION history_id: 2"}},
           {"THREAT_OP_REQUEST serial: 5 threat_id: 2 op: THREAT_OP_DELETE",
            {op + "5 threat_id: 2 op: THREAT_OP_DELETE error { code: EC_NO_SUCH_ENTRY"}}}) {
    fc::ClientMessage message;
    ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString("tag: " + request, &message)) << request;
    std::string const frame = configd_peer_t::frame(message.SerializeAsString());
    ASSERT_EQ(static_cast<ssize_t>(frame.size()), ::write(fd, frame.data(), frame.size()));
    for (std::string const& reply : replies) EXPECT_EQ(reply, receive(fd).substr(0, reply.size())) << request;
  }
  EXPECT_NE(0, ::access(bad.c_str(), F_OK));
  ::close(fd);
  peer.signal(SIGTERM);
  EXPECT_EQ(0, peer.wait());
  EXPECT_NE(0, ::access(sock.c_str(), F_OK));
}

}  // namespace
