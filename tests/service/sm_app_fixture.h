#pragma once

// An application object in the test process, on one end of a socket pair whose
// other end the test plays as ConfigD. The loop is driven by hand.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "error.pb.h"
#include "service/sm_app.h"
#include "tests/support/configd_peer.h"
#include "tests/support/log_capture.h"

class sm_app_fixture : public ::testing::Test {
 protected:
  void SetUp() override { app.reset(new sm_app_t(peer.take_other_end())); }
  void TearDown() override { app.reset(); }

  // Runs every ready handler; the bare code one of them throws, or -1.
  int poll() {
    try {
      app->io_context.restart();
      app->io_context.poll();
    } catch (qn::ErrorCode code) {
      return code;
    }
    return -1;
  }
  qn::SMBGardix2ConfigdMessage receive() {
    poll();
    return peer.receive();
  }
  bool nothing_sent() {
    poll();
    return !peer.has_data();
  }

  test_log_t log;
  configd_peer_t peer;
  std::unique_ptr<sm_app_t> app;
};
