// GCC flags Boost.Signals2's connect as maybe-uninitialized under the sanitizers (a false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "service/sm_configd_tie.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "se_appinfo.pb.h"
#include "tests/service/sm_app_fixture.h"
#include "vornd_appinfo.pb.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef qn::Configd2SMBGardixMessage in_t;

in_t fcheck_response(std::uint32_t uid, char const* path, qn::ErrorCode error = qn::EC_OK) {
  in_t message;
  message.set_tag(in_t::GET_FCHECK_RESPONSE);
  message.set_uid(uid);
  message.set_socket_path(path);
  if (error != qn::EC_OK) message.mutable_error()->set_code(error);
  return message;
}

class configd_tie_test : public sm_app_fixture {
 protected:
  // Records "who:error value:path" for every answer.
  sm_configd_tie_t::fcheck_callback_t recorder(std::string const& who) {
    return [this, who](boost::system::error_code const& ec, boost::filesystem::path const& path) {
      EXPECT_STREQ("qn.Error", ec.category().name());
      answers.push_back(who + ":" + std::to_string(ec.value()) + ":" + path.string());
    };
  }
  std::vector<std::string> answers;
};

TEST_F(configd_tie_test, one_request_serves_every_waiting_callback_in_order) {
  app->configd->get_fcheck_request(recorder("first"));
  app->configd->get_fcheck_request([&](boost::system::error_code const& ec, boost::filesystem::path const& path) {
    recorder("second")(ec, path);
    // The list is emptied before the callbacks run: this starts a new round.
    if (answers.size() == 2) app->configd->get_fcheck_request(recorder("again"));
  });
  out_t const request = receive();
  EXPECT_EQ(out_t::GET_FCHECK_REQUEST, request.tag());
  EXPECT_EQ(::getuid(), request.uid());
  EXPECT_TRUE(nothing_sent()) << "one request for both";
  peer.send(fcheck_response(::getuid(), "/ignored", qn::EC_NO_FILE_CHECK));  // the error wins over the path
  EXPECT_EQ(out_t::GET_FCHECK_REQUEST, receive().tag());
  peer.send(fcheck_response(::getuid(), "/run/fcheck.sock"));
  EXPECT_EQ(-1, poll());
  std::string const no_check = ":" + std::to_string(qn::EC_NO_FILE_CHECK) + ":";
  EXPECT_EQ((std::vector<std::string>{"first" + no_check, "second" + no_check, "again:0:/run/fcheck.sock"}), answers);
  // An answer nobody waits for is consumed; one for another user is refused unseen.
  peer.send(fcheck_response(::getuid(), "/unasked"));
  EXPECT_EQ(-1, poll());
  app->configd->get_fcheck_request(recorder("refused"));
  receive();
  peer.send(fcheck_response(::getuid() + 1, "/run/fcheck.sock"));
  EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, poll());
  EXPECT_EQ(3u, answers.size());
}

TEST_F(configd_tie_test, config_response_is_applied_then_reconfigures_then_reports) {
  qn::SMBGardixConfig config = configd_peer_t::stderr_config();
  config.mutable_actual_log()->set_type(qn::Log::AUTO);
  int reconfigured = 0;
  app->reconfigured.connect([&] {
    ++reconfigured;
    EXPECT_EQ(11u, app->settings->config_revision()) << "applied before the reconfiguration";
    EXPECT_TRUE(app->settings->suspended);
    EXPECT_FALSE(peer.has_data()) << "the report follows the reconfiguration";
  });
  peer.send(configd_peer_t::config_response(11, config, true));
  out_t const info = receive();
  EXPECT_EQ(1, reconfigured);
  EXPECT_EQ("tag: MY_INFO_NOTIFICATION config_revision: 11 info { state: EC_APP_SUSPENDED }", info.ShortDebugString());
}

// The candidate is the fingerprint of the last entry that has one, present but empty included;
// it is stored only when new and non-empty. VornD carries it inside its adaptor entry.
TEST_F(configd_tie_test, core_fingerprint_is_stored_only_when_new_and_non_empty) {
  struct entry_t {
    qn::Application app;
    char const* fingerprint;  // null: unset
    bool as_vornd;
  };
  entry_t const e = {qn::APP_SCAN_ENGINE, "", false}, a = {qn::APP_SCAN_ENGINE, "A", false},
                b = {qn::APP_SCAN_ENGINE, "B", false}, none = {qn::APP_SCAN_ENGINE, nullptr, false},
                v_empty = {qn::APP_VORND, "", true}, v_none = {qn::APP_VORND, nullptr, true},
                v_d = {qn::APP_VORND, "D", true}, odd = {qn::APP_SCAN_ENGINE, "\x01\xff", false};
  for (auto const& step :
       std::vector<std::pair<std::vector<entry_t>, std::string>>{{{}, ""},
                                                                 {{e}, ""},
                                                                 {{a}, "A"},
                                                                 // The extension must match the application.
                                                                 {{{qn::APP_VORND, "B", false}}, "A"},
                                                                 {{{qn::APP_SCAN_ENGINE, "B", true}}, "A"},
                                                                 {{{qn::APP_FILE_CHECK, "B", false}}, "A"},
                                                                 {{b, v_empty}, "A"},
                                                                 {{b, none, v_none}, "B"},
                                                                 {{a, v_d}, "D"},
                                                                 {{v_d, odd}, "\x01\xff"}}) {
    in_t message;
    message.set_tag(in_t::APPINFO_NOTIFICATION);
    for (entry_t const& entry : step.first) {
      qn::AppInfo* info = message.add_appinfo();
      info->set_app(entry.app);
      info->set_pid(100);
      if (entry.as_vornd) {
        qn::VornDAppInfo* vornd = info->MutableExtension(qn::vornd_info);
        vornd->set_engine_es_id("es");
        if (entry.fingerprint) vornd->mutable_se_adaptor_info()->set_core_fingerprint(entry.fingerprint);
      } else {
        qn::SEAppInfo* se = info->MutableExtension(qn::se_info);
        if (entry.fingerprint) se->set_core_fingerprint(entry.fingerprint);
      }
    }
    peer.send(message);
    EXPECT_EQ(-1, poll());
    EXPECT_EQ(step.second, app->configd->stored_core_fingerprint()) << message.ShortDebugString();
  }
  EXPECT_FALSE(peer.has_data()) << "nothing is sent in answer";
}

}  // namespace
