// GCC flags Boost.Signals2's connect as maybe-uninitialized under the sanitizers (a false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "service/sm_configd_tie.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "framework/error/cf_proto_error_impl.h"
#include "se_appinfo.pb.h"
#include "tests/service/sm_app_fixture.h"
#include "vornd_appinfo.pb.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;
typedef qn::Configd2SMBGardixMessage in_t;

struct answer_t {
  std::string who;
  boost::system::error_code ec;
  std::string path;
};

class configd_tie_test : public sm_app_fixture {
 protected:
  sm_configd_tie_t::fcheck_callback_t recorder(std::string const& who) {
    return [this, who](boost::system::error_code const& ec, boost::filesystem::path const& path) {
      answers.push_back({who, ec, path.string()});
    };
  }

  static in_t fcheck_response(std::uint32_t uid, char const* path, int error_code) {
    in_t message;
    message.set_tag(in_t::GET_FCHECK_RESPONSE);
    message.set_uid(uid);
    if (path) message.set_socket_path(path);
    if (error_code >= 0) message.mutable_error()->set_code(static_cast<qn::ErrorCode>(error_code));
    return message;
  }

  static in_t config_response(std::uint32_t revision, bool with_control, bool suspended) {
    in_t message;
    message.set_tag(in_t::GET_CONFIG_RESPONSE);
    message.set_config_revision(revision);
    message.mutable_config()->mutable_actual_log()->set_type(qn::Log::AUTO);
    if (with_control) {
      message.mutable_control()->set_app(qn::APP_SMB_GARDIX);
      message.mutable_control()->set_suspended(suspended);
    }
    return message;
  }

  std::vector<answer_t> answers;
};

TEST_F(configd_tie_test, requests_are_framed_byte_for_byte) {
  app->configd->get_config_request();
  EXPECT_EQ(std::string("\x02\x00\x00\x00\x08\x01", 6), read_exact(6));

  app->configd->get_fcheck_request(recorder("a"));
  // Tag 4, then field 4 (uid) as a varint.
  std::string body("\x08\x04\x20", 3);
  for (std::uint32_t uid = ::getuid();; uid >>= 7) {
    if (uid < 0x80) {
      body.push_back(static_cast<char>(uid));
      break;
    }
    body.push_back(static_cast<char>((uid & 0x7f) | 0x80));
  }
  EXPECT_EQ(frame(body), read_exact(4 + body.size()));

  app->configd->my_info_notification();
  // Before any settings: revision 0, state EC_OK.
  EXPECT_EQ(std::string("\x08\x00\x00\x00\x08\x02\x10\x00\x32\x02\x08\x00", 12), read_exact(12));
}

TEST_F(configd_tie_test, waiting_callbacks_share_one_request_and_are_answered_in_order) {
  app->configd->get_fcheck_request(recorder("first"));
  app->configd->get_fcheck_request(recorder("second"));
  out_t request = receive();
  EXPECT_EQ(out_t::GET_FCHECK_REQUEST, request.tag());
  EXPECT_EQ(::getuid(), request.uid());
  EXPECT_FALSE(peer_has_data()) << "one request for both";

  send(fcheck_response(::getuid(), "/run/fcheck/socket", -1));
  poll();
  ASSERT_EQ(2u, answers.size());
  EXPECT_EQ("first", answers[0].who);
  EXPECT_EQ("second", answers[1].who);
  for (answer_t const& a : answers) {
    EXPECT_EQ(qn::make_error_code(qn::EC_OK), a.ec);
    EXPECT_EQ(std::string("qn.Error"), a.ec.category().name());
    EXPECT_EQ("/run/fcheck/socket", a.path);
  }

  // The round is over: the next caller starts a new request.
  app->configd->get_fcheck_request(recorder("third"));
  EXPECT_EQ(out_t::GET_FCHECK_REQUEST, receive().tag());
}

TEST_F(configd_tie_test, error_answer_wins_and_a_callback_asking_again_starts_a_new_request) {
  bool asked_again = false;
  app->configd->get_fcheck_request([&](boost::system::error_code const& ec, boost::filesystem::path const& path) {
    answers.push_back({"retry", ec, path.string()});
    if (!asked_again) {
      asked_again = true;
      app->configd->get_fcheck_request(recorder("retry-2"));
    }
  });
  app->configd->get_fcheck_request(recorder("other"));
  receive();
  // The error wins over a path sent along.
  send(fcheck_response(::getuid(), "/ignored", qn::EC_NO_FILE_CHECK));
  poll();
  ASSERT_EQ(2u, answers.size());
  EXPECT_EQ("retry", answers[0].who);
  EXPECT_EQ("other", answers[1].who);
  for (answer_t const& a : answers) {
    EXPECT_EQ(qn::make_error_code(qn::EC_NO_FILE_CHECK), a.ec);
    EXPECT_EQ("", a.path);
  }
  EXPECT_EQ(out_t::GET_FCHECK_REQUEST, receive().tag()) << "the list was emptied before the callbacks ran";

  send(fcheck_response(::getuid(), "/later", -1));
  poll();
  ASSERT_EQ(3u, answers.size());
  EXPECT_EQ("retry-2", answers[2].who);
  EXPECT_EQ("/later", answers[2].path);
}

TEST_F(configd_tie_test, answer_for_another_user_calls_nobody_and_throws_12) {
  app->configd->get_fcheck_request(recorder("a"));
  receive();
  send(fcheck_response(::getuid() + 1, "/run/fcheck/socket", -1));
  EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, poll_for_code());
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(log->has("Error: Monitor: GET_FCHECK_RESPONSE: argument check failed: message.uid() == getuid()"))
      << log->all();
}

TEST_F(configd_tie_test, unrequested_answer_is_consumed) {
  send(fcheck_response(::getuid(), "/x", -1));
  EXPECT_EQ(-1, poll_for_code());
  EXPECT_FALSE(peer_has_data());
}

TEST_F(configd_tie_test, config_response_is_applied_then_reconfigures_then_reports) {
  // The states reported for each kind of response are checked on the real daemon.
  int reconfigured = 0;
  app->reconfigured.connect([&] {
    ++reconfigured;
    EXPECT_EQ(11u, app->settings->config_revision()) << "applied before the reconfiguration";
    EXPECT_TRUE(app->settings->suspended);
    EXPECT_FALSE(peer_has_data()) << "the report follows the reconfiguration";
  });
  send(config_response(11, true, true));
  out_t info = receive();
  EXPECT_EQ(1, reconfigured);
  EXPECT_EQ(out_t::MY_INFO_NOTIFICATION, info.tag());
  EXPECT_EQ(11u, info.config_revision());
  EXPECT_EQ(qn::EC_APP_SUSPENDED, info.info().state());
}

TEST_F(configd_tie_test, config_response_failing_its_check_applies_nothing) {
  in_t message = config_response(5, true, true);
  message.clear_config();
  int reconfigured = 0;
  app->reconfigured.connect([&] { ++reconfigured; });
  send(message);
  EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, poll_for_code());
  EXPECT_EQ(0, reconfigured);
  EXPECT_FALSE(app->settings->suspended);
  EXPECT_TRUE(log->has("Error: Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config()"))
      << log->all();
  EXPECT_FALSE(peer_has_data());
}

// --- core fingerprint ---

qn::AppInfo engine_entry(char const* fingerprint) {
  qn::AppInfo info;
  info.set_app(qn::APP_SCAN_ENGINE);
  info.set_pid(100);
  qn::SEAppInfo* se = info.MutableExtension(qn::se_info);
  if (fingerprint) se->set_core_fingerprint(fingerprint);
  return info;
}

qn::AppInfo vornd_entry(char const* fingerprint, bool with_adaptor = true) {
  qn::AppInfo info;
  info.set_app(qn::APP_VORND);
  info.set_pid(200);
  qn::VornDAppInfo* vornd = info.MutableExtension(qn::vornd_info);
  vornd->set_engine_es_id("es");
  if (with_adaptor) {
    qn::SEAppInfo* se = vornd->mutable_se_adaptor_info();
    if (fingerprint) se->set_core_fingerprint(fingerprint);
  }
  return info;
}

in_t appinfo_notification(std::vector<qn::AppInfo> const& entries) {
  in_t message;
  message.set_tag(in_t::APPINFO_NOTIFICATION);
  for (qn::AppInfo const& e : entries) message.add_appinfo()->CopyFrom(e);
  return message;
}

struct fingerprint_case {
  char const* name;
  std::vector<qn::AppInfo> entries;
  std::string candidate;
};

std::vector<fingerprint_case> fingerprint_cases() {
  qn::AppInfo engine_as_vornd = engine_entry("A");
  engine_as_vornd.set_app(qn::APP_VORND);
  qn::AppInfo vornd_as_engine = vornd_entry("B");
  vornd_as_engine.set_app(qn::APP_SCAN_ENGINE);
  qn::AppInfo other = engine_entry("C");
  other.set_app(qn::APP_FILE_CHECK);
  return {
      {"none", {}, ""},
      {"engine", {engine_entry("A")}, "A"},
      {"vornd", {vornd_entry("B")}, "B"},
      {"later_entry_wins", {engine_entry("A"), vornd_entry("B")}, "B"},
      {"later_entry_wins_reversed", {vornd_entry("B"), engine_entry("A")}, "A"},
      {"vornd_app_with_engine_extension", {engine_as_vornd}, ""},
      {"engine_app_with_vornd_extension", {vornd_as_engine}, ""},
      {"other_app", {other}, ""},
      {"present_but_empty_clears_candidate", {engine_entry("A"), vornd_entry("")}, ""},
      {"empty_then_set", {engine_entry(""), vornd_entry("B")}, "B"},
      {"unset_keeps_candidate", {engine_entry("A"), engine_entry(nullptr)}, "A"},
      {"vornd_without_adaptor_keeps_candidate", {engine_entry("A"), vornd_entry(nullptr, false)}, "A"},
      {"binary_bytes", {engine_entry("\x01\xff")}, "\x01\xff"},
  };
}

class core_fingerprint_test : public ::testing::TestWithParam<fingerprint_case> {};

TEST_P(core_fingerprint_test, last_scan_engine_fingerprint_is_the_candidate) {
  EXPECT_EQ(GetParam().candidate, sm_configd_tie_t::core_fingerprint_of(appinfo_notification(GetParam().entries)));
}

INSTANTIATE_TEST_SUITE_P(entries, core_fingerprint_test, ::testing::ValuesIn(fingerprint_cases()),
                         [](::testing::TestParamInfo<fingerprint_case> const& info) { return info.param.name; });

TEST_F(configd_tie_test, fingerprint_is_stored_only_when_new_and_non_empty) {
  struct step {
    std::vector<qn::AppInfo> entries;
    std::string stored;
  };
  std::vector<step> const steps = {
      {{}, ""},
      {{engine_entry("")}, ""},
      {{engine_entry("A")}, "A"},
      {{engine_entry("A")}, "A"},
      {{vornd_entry("")}, "A"},
      {{engine_entry("A"), vornd_entry("B")}, "B"},
  };
  for (step const& s : steps) {
    send(appinfo_notification(s.entries));
    EXPECT_EQ(-1, poll_for_code());
    EXPECT_EQ(s.stored, app->configd->stored_core_fingerprint());
  }
  EXPECT_FALSE(peer_has_data()) << "nothing is sent in answer";
}

}  // namespace
