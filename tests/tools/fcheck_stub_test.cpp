// The file-checker stand-in end to end: the real program over its socket, its database file and
// the files it acts on.

#include <gtest/gtest.h>
#include <google/protobuf/text_format.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "fcheck_client_ipc.pb.h"
#include "framework/exe_info/cf_exe_info.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

// Sends the fc.ClientMessage whose text form is "tag: " and the text.
void send(int fd, std::string const& text) {
  fc::ClientMessage message;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString("tag: " + text, &message)) << text;
  std::uint32_t const n = static_cast<std::uint32_t>(message.ByteSizeLong());
  std::string const frame =
      std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)} + message.SerializeAsString();
  ASSERT_EQ(static_cast<ssize_t>(frame.size()), ::write(fd, frame.data(), frame.size()));
}

// The next message in short text form without "tag: " and the error's explanation; empty when
// the connection ends or nothing comes before the socket's receive timeout.
std::string receive(int fd) {
  unsigned char h[4];
  fc::ServerMessage message;
  if (::recv(fd, h, 4, MSG_WAITALL) != 4) return "";
  std::string body(h[0] | h[1] << 8 | h[2] << 16 | std::size_t(h[3]) << 24, '\0');
  EXPECT_EQ(static_cast<ssize_t>(body.size()), ::recv(fd, &body[0], body.size(), MSG_WAITALL));
  EXPECT_TRUE(message.ParseFromString(body));
  if (message.has_error()) message.mutable_error()->clear_what();
  return message.ShortDebugString().substr(5);
}

TEST(fcheck_stub, detection_sync_notifications_and_operations_end_to_end) {
  test_sandbox_t box;
  std::string const stub = QN_BIN_DIR "/fcheck-stub", sock = box.file("fc.sock"), db = box.file("t.db");
  std::string const bad = box.file("test.com"), clean = box.write("clean.txt", "hello");
  ASSERT_EQ(0, run_program({stub, "--make-test-file", bad}, {}).status);
  EXPECT_EQ("\x44\xd8\x86\x12\xfe\xa8\xa8\xf3\x6d\xe8\x2e\x12\x78\xab\xb0\x2f",
            cf_file_md5(bad));  // the well-known digest
  test_child_t peer({stub, "--socket", sock, "--db", db}, test_child_t::environment());
  ASSERT_EQ("ready", peer.next_line());
  int fds[2];
  for (int& fd : fds) {
    sockaddr_un addr{AF_UNIX, {}};
    sock.copy(addr.sun_path, sizeof addr.sun_path - 1);
    timeval const bound{5, 0};
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(0, ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound));
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  }
  struct stat st;
  ASSERT_EQ(0, ::stat(bad.c_str(), &st));
  send(fds[1], "SUBSCRIBE_TO_THREATS");
  EXPECT_EQ("THREATS_SUBSCRIBED dbpath: \"" + db + "\"", receive(fds[1]));
  std::string const scan = "PROXY_SCAN_RESPONSE serial: ", op = "THREATS_OP_RESPONSE serial: ";
  // A request on connection 0, the answer expected there and the notification on 1 (subscribed).
  std::tuple<std::string, std::string, std::string> const steps[] = {
      {"OPEN_PROXY origin: APP_SMB_GARDIX", "", ""},
      {"PROXY_SCAN_REQUEST serial: 1 path: \"" + bad + "\"",
       scan + "1 scan_report { object: \"" + bad +
           "\" size: 68 virus { type: SE_KNOWN_VIRUS name: \"Standard-Test-File\" } } threat_id: -1",
       ""},
      {"PROXY_SCAN_REQUEST serial: 2 path: \"" + clean + "\"",
       scan + "2 scan_report { object: \"" + clean + "\" size: 5 }", ""},
      {"THREAT_SYNC_REQUEST serial: 3 threat_id: -1", "THREAT_SYNC_RESPONSE serial: 3 threat_id: 1 history_id: 1",
       "THREATS_NOTIFICATION history_id: 1"},
      {"MY_THREAT_NOTIFICATION history_id: 1", "", "THREATS_NOTIFICATION history_id: 1"},
      {"THREAT_OP_REQUEST serial: 4 threat_id: 1 op: THREAT_OP_CURE",
       op + "4 threat_id: 1 op: THREAT_OP_CURE error { code: EC_CAN_NOT_BE_CURED }", ""},
      {"THREAT_OP_REQUEST serial: 5 threat_id: 1 op: THREAT_OP_QUARANTINE",
       op + "5 threat_id: 1 op: THREAT_OP_QUARANTINE", "THREATS_NOTIFICATION history_id: 2"},
      {"THREAT_OP_REQUEST serial: 6 threat_id: 2 op: THREAT_OP_DELETE",
       op + "6 threat_id: 2 op: THREAT_OP_DELETE error { code: EC_NO_SUCH_ENTRY }", ""},
  };
  for (auto const& [request, answer, notification] : steps) {
    send(fds[0], request);
    EXPECT_EQ(answer, answer.empty() ? "" : receive(fds[0])) << request;
    EXPECT_EQ(notification, notification.empty() ? "" : receive(fds[1])) << request;
  }
  auto const query = [&](std::string const& sql) { return run_program({"/usr/bin/sqlite3", db, sql}, {}).out; };
  std::string const file = "blob|" + bad + "|" + std::to_string(st.st_dev) + "|" + std::to_string(st.st_ino);
  EXPECT_EQ(file + "|1|1|40|||0|1|1\n" + file + "|2|3|40|||1|0|1\n",
            query("SELECT typeof(path), path, dev, ino, history_id, event, origin, locked, tag, neutralized,"
                  " scanreport IS NOT NULL, moment > strftime('%s') - 60 FROM threat JOIN session USING (threat_id)"
                  " JOIN history USING (threat_id) ORDER BY history_id"));
  EXPECT_TRUE(::access(bad.c_str(), F_OK) != 0 && ::access(box.file("quarantine/1-test.com").c_str(), F_OK) == 0);

  for (int fd : fds) ::close(fd);
  peer.signal(SIGTERM);
  EXPECT_EQ(0, peer.wait());
  EXPECT_NE(std::string::npos, peer.out().find("conn 1: PROXY_SCAN_REQUEST serial=1 path=\"" + bad + "\"\n"));
  EXPECT_NE(0, ::access(sock.c_str(), F_OK));
}

}  // namespace
