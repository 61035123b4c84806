#pragma once

// A real application object in the test process: the test plays ConfigD on a socket pair, the
// loop is driven by hand, and clocks are moved, never waited for. Folders add the peers they
// play (VFS modules, the file checker) in fixtures derived from this one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/sm_app.h"
#include "tests/support/configd_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox.h"

using namespace std::chrono_literals;

class app_fixture_t : public ::testing::Test {
 protected:
  // Timers started from here on notice the clocks' moves at once.
  app_fixture_t();
  ~app_fixture_t() override;

  // Runs the loop until done() holds. The test fails after 20 s, and later pumps return at once.
  bool pump(std::function<bool()> const& done);
  // Runs every ready handler until the loop is quiet; the bare code one of them throws, or -1.
  int poll();

  // Sends ConfigD's settings: `settings` in protobuf text format, over a base that roots the
  // share in `root`, names the socket vfs.sock and keeps the captured log. Returns once the
  // daemon has taken them.
  void configure(std::string const& settings = "", bool suspended = false);

  // How many log lines start with `prefix`.
  int count(std::string const& prefix) const;

  test_log_t log;
  test_sandbox_t box;
  std::string root = box.path();
  configd_peer_t configd;
  std::unique_ptr<sm_app_t> app;
  std::uint32_t revision = 0;
  bool failed = false;
};
