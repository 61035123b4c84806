#include <sys/syscall.h>

#include "tests/vfs_link/vfs_link_fixture.h"
#include "vfs_link/sm_module_server.h"

// The daemon's accepts come here first: a test makes the next one fail with this errno.
int failing_accept = 0;
extern "C" int accept(int fd, sockaddr* address, socklen_t* length) {
  if (failing_accept) return errno = failing_accept, failing_accept = 0, -1;
  return static_cast<int>(::syscall(SYS_accept4, fd, address, length, 0));
}

TEST_F(vfs_link_test, bad_input_closes_the_connection_with_one_error_line_and_counts_it_out_once) {
  std::string const good = hello("Pub", "/srv/share");
  // Answered from the cache faster than the module reads, so that a write is under way at the close.
  std::string opens;
  for (std::uint32_t serial = 1; serial <= 32768; ++serial) opens += frame(event(msg_t::OP_OPEN, serial, "/srv/a", 7));
  std::pair<std::string, char const*> const cases[] = {
      {hello("Pub", "share"), "bad IPC message"},
      {good + good, "bad IPC message"},
      {frame(event(msg_t::OP_OPEN, 1, "/srv/a")), "bad IPC message"},
      {good + frame(event(msg_t::OP_OPEN, 1, "/srv/a", 1, false)), "bad IPC message"},
      {good + frame(event(msg_t::OP_NONE, 1, "/srv/a")), "bad IPC message"},
      {good + frame(event(msg_t::OP_CLOSE, 0, "/srv/a")), "bad IPC message"},
      {good + frame(event(msg_t::OP_READ, 1, "srv/a")), "bad IPC message"},
      {good + frame(msg_t::make_verdict(1, 1)), "unknown IPC message"},
      {good + opens + configd_peer_t::frame("X"), "failed to deserialize"},
      // A body of 1 MiB is read; one byte more is refused before anything is allocated for it.
      {good + configd_peer_t::frame(std::string(1 << 20, 'X')), "failed to deserialize"},
      {good + configd_peer_t::frame(std::string((1 << 20) + 1, 'X')).substr(0, 4), "failed to process received data"},
  };
  configure();
  known_clean(7);
  for (auto const& c : cases) {
    log.clear();
    int const fd = connect();
    // The frame behind the bad one is never handled.
    send(fd, c.first + frame(event(msg_t::OP_OPEN, 1, "/srv/late")));
    EXPECT_TRUE(pump([&] { return !drain(fd); })) << c.second;
    EXPECT_TRUE(log.contains(std::string("Error: VFS module connection: ") + c.second)) << c.second;
    EXPECT_EQ(log.text().find("Error:"), log.text().rfind("Error:")) << c.second;
    EXPECT_EQ(std::string::npos, log.text().find("/srv/late"));
  }
  std::uint64_t in = 0, out = 0;  // nine connections said hello
  app->share_stat->on_timer(boost::system::error_code());
  while (in < 9 && pump([&] { return configd.has_data(); })) {
    qn::SMBGardix2ConfigdMessage const message = configd.receive();
    for (auto const& share : message.stat().shares()) in += share.in(), out += share.out();
  }
  EXPECT_EQ("9/9", std::to_string(in) + "/" + std::to_string(out));
}

TEST_F(vfs_link_test, settings_writes_and_verdicts_without_a_scan_also_while_accepting_rests) {
  configure();
  int const fd = connect();
  send(fd, hello("Pub_Lic", "/srv/share"));
  EXPECT_EQ("4:0=0 -tmp +docs", next(fd));

  // Out of descriptors: accepting rests, and the connection there is goes on being answered.
  failing_accept = EMFILE;
  int const second = connect();
  pump([&] { return log.contains("Error: sm_module_server_t: accept: Too many open files; accepting again in 1 s"); });
  send(second, hello("", "/srv/other"));

  // A domain without a user makes no writer: three entries, and writers of 36 + 11 and 36 + 10 bytes.
  std::uint64_t id = 100;
  for (auto const& w :
       std::vector<std::vector<std::string>>{{"", "corp", ""}, {"bob", "corp", ""}, {"", "corp", "10.0.0.1"}}) {
    msg_t write = event(msg_t::OP_WRITE, 0, "/srv/share/w", ++id);
    write.user = w[0], write.domain = w[1], write.ip = w[2];
    send(fd, frame(write));
  }
  // A file known clean is allowed before its path is looked at, even when the path is gone.
  known_clean(7);
  send(fd, frame(event(msg_t::OP_OPEN, 5, "/gone", 7)) + frame(event(msg_t::OP_READ, 6, "/mi\"ss&ing", 8)));
  EXPECT_EQ("3:5=1", next(fd));
  EXPECT_EQ("3:6=2", next(fd));
  EXPECT_EQ(120u + 47 + 46 + 80, app->file_cache->estimate());
  EXPECT_TRUE(
      log.contains("Error: Failed to normalize path \"/mi&\"ss&&ing\" (canonical: No such file or directory: \"" +
                   box.path() + "/mi\"ss&ing\"), access rejected"));
  EXPECT_TRUE(drain(second) && inbox[second].empty());
  sm_clock_t::advance(sm_module_server_t::accept_pause);
  EXPECT_EQ("4:0=0 -tmp +docs", next(second));

  // Suspended: settings again, the default verdict even for a known-clean file, writes ignored.
  configure(true);
  EXPECT_EQ("4:0=0 -tmp +docs", next(fd));
  known_clean(7);
  send(fd, frame(event(msg_t::OP_WRITE, 0, "/srv/share/w", 9)) + frame(event(msg_t::OP_OPEN, 9, "/gone", 7)));
  EXPECT_EQ("3:9=2", next(fd));
  EXPECT_EQ(1u, app->file_cache->size());
}
