#include "tests/support/app_fixture.h"

#include <algorithm>

#include <google/protobuf/text_format.h>

#include "error.pb.h"

app_fixture_t::app_fixture_t() : app(new sm_app_t(configd.take_other_end())) { sm_clock_t::advance(0ns); }

app_fixture_t::~app_fixture_t() {
  app.reset();
  sm_clock_t::reset_for_tests();
}

bool app_fixture_t::pump(std::function<bool()> const& done) {
  for (auto end = std::chrono::steady_clock::now() + 20s; !failed && std::chrono::steady_clock::now() < end;) {
    app->io_context.restart();
    if (app->io_context.run_for(1ms), done()) return true;
  }
  if (!failed) ADD_FAILURE() << "stalled; the log:\n" << log.text();
  return !(failed = true);
}

int app_fixture_t::poll() {
  try {
    // A completion can take two rounds to run.
    for (int quiet = 0; quiet < 2;) quiet = (app->io_context.restart(), app->io_context.poll()) ? 0 : quiet + 1;
  } catch (qn::ErrorCode code) {
    return code;
  }
  return -1;
}

void app_fixture_t::configure(std::string const& settings, bool suspended) {
  qn::SMBGardixConfig config;
  EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(settings, &config)) << settings;
  if (!config.has_samba_chroot_dir()) config.set_samba_chroot_dir(root);
  if (!config.has_smb_socket_path()) config.set_smb_socket_path("vfs.sock");
  if (!config.has_actual_log()) config.mutable_actual_log()->set_type(qn::Log::AUTO);
  configd.send(configd_peer_t::config_response(++revision, config, suspended));
  pump([&] { return app->settings->config_revision() == revision; });
}

int app_fixture_t::count(std::string const& prefix) const {
  std::vector<std::string> const lines = log.lines();
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](std::string const& l) { return !l.rfind(prefix, 0); }));
}
