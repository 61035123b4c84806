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

  void send_raw(std::string const& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(peer, bytes.data(), bytes.size()));
  }

  static std::string frame(std::string const& body) {
    std::uint32_t const n = static_cast<std::uint32_t>(body.size());
    std::string out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
    return out + body;
  }

  void send(qn::Configd2SMBGardixMessage const& message) { send_raw(frame(message.SerializeAsString())); }

  bool peer_has_data() {
    pollfd p{peer, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }

  // One whole frame body from the peer end, after running the loop.
  std::string receive_body() {
    poll();
    std::string header = read_exact(4);
    if (header.size() != 4) return std::string();
    std::uint32_t const n = static_cast<unsigned char>(header[0]) | (static_cast<unsigned char>(header[1]) << 8) |
                            (static_cast<unsigned char>(header[2]) << 16) |
                            (std::uint32_t(static_cast<unsigned char>(header[3])) << 24);
    return read_exact(n);
  }

  std::string read_exact_after_poll(std::size_t n) {
    poll();
    return read_exact(n);
  }

  qn::SMBGardix2ConfigdMessage receive() {
    qn::SMBGardix2ConfigdMessage message;
    EXPECT_TRUE(message.ParseFromString(receive_body()));
    return message;
  }

  std::string read_exact(std::size_t n) {
    std::string out;
    while (out.size() < n) {
      pollfd p{peer, POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) {
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

  std::shared_ptr<sm_test_log_t> log;
  std::unique_ptr<sm_app_t> app;
  int peer = -1;
};
