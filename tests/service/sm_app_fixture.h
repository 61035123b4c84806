#pragma once

// An application object in the test process, on one end of a socket pair whose
// other end the test reads and writes as ConfigD. The loop is driven by hand.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "configd_smb_gardix_ipc.pb.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"
#include "tests/service/sm_test_log.h"
#include "tests/support/configd_peer.h"

class sm_app_fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    log = sm_test_log_t::install();
    int fds[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    peer = fds[1];
    app.reset(new sm_app_t(fds[0]));
  }

  void TearDown() override {
    app.reset();
    if (peer >= 0) ::close(peer);
    cf_log_reset_for_tests();
  }

  // Runs every handler that is ready.
  void poll() {
    app->io_context.restart();
    app->io_context.poll();
  }

  // Runs the ready handlers and returns the bare code one of them throws, or -1.
  int poll_for_code() {
    try {
      poll();
    } catch (qn::ErrorCode code) {
      return code;
    }
    return -1;
  }

  static std::string frame(std::string const& body) { return configd_peer_t::frame(body); }

  void send(qn::Configd2SMBGardixMessage const& message) {
    std::string const bytes = frame(message.SerializeAsString());
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(peer, bytes.data(), bytes.size()));
  }

  bool peer_has_data() {
    pollfd p{peer, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }

  // Exactly n bytes from the peer end, after running the loop.
  std::string read_exact(std::size_t n) {
    poll();
    std::string out;
    while (out.size() < n) {
      pollfd p{peer, POLLIN, 0};
      if (::poll(&p, 1, configd_peer_t::stall_ms) != 1) {
        ADD_FAILURE() << "nothing from the daemon side";
        return out;
      }
      char buf[4096];
      ssize_t got = ::read(peer, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) {
        ADD_FAILURE() << "the daemon side closed";
        return out;
      }
      out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
  }

  // The next whole message from the daemon side.
  qn::SMBGardix2ConfigdMessage receive() {
    std::string const header = read_exact(4);
    qn::SMBGardix2ConfigdMessage message;
    if (header.size() != 4) return message;
    std::uint32_t const n = static_cast<unsigned char>(header[0]) | (static_cast<unsigned char>(header[1]) << 8) |
                            (static_cast<unsigned char>(header[2]) << 16) |
                            (std::uint32_t(static_cast<unsigned char>(header[3])) << 24);
    EXPECT_TRUE(message.ParseFromString(read_exact(n)));
    return message;
  }

  std::shared_ptr<sm_test_log_t> log;
  std::unique_ptr<sm_app_t> app;
  int peer = -1;
};
