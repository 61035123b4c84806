// GCC flags Boost.Signals2's connect as maybe-uninitialized under the sanitizers (a false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "service/sm_configd_tie.h"

#include <unistd.h>

#include <google/protobuf/text_format.h>

#include "se_appinfo.pb.h"
#include "tests/support/app_fixture.h"
#include "vornd_appinfo.pb.h"

namespace {

typedef app_fixture_t configd_tie_test;

// An answer for another user, or one that nobody waits for, is left to the end-to-end runs.
TEST_F(configd_tie_test, one_request_serves_every_waiting_callback_in_order) {
  std::vector<std::string> answers;
  std::function<void(std::string const&)> wait = [&](std::string const& who) {
    app->configd->get_fcheck_request(
        [&, who](boost::system::error_code const& ec, boost::filesystem::path const& path) {
          answers.push_back(who + ":" + ec.category().name() + ":" + std::to_string(ec.value()) + ":" + path.string());
          // The list is emptied before the callbacks run: this starts a new round.
          if (who == "second") wait("again");
        });
  };
  wait("first");
  wait("second");
  // The error wins over the path.
  for (auto const& [error, path] : {std::pair{qn::EC_NO_FILE_CHECK, "/ignored"}, {qn::EC_OK, "/run/fcheck.sock"}}) {
    poll();
    EXPECT_EQ("tag: GET_FCHECK_REQUEST uid: " + std::to_string(::getuid()), configd.receive().ShortDebugString());
    EXPECT_EQ(-1, poll());
    EXPECT_FALSE(configd.has_data()) << "one request for all";
    qn::Configd2SMBGardixMessage answer = configd_peer_t::fcheck_response(path);
    if (error != qn::EC_OK) answer.mutable_error()->set_code(error);
    configd.send(answer);
  }
  EXPECT_EQ(-1, poll());
  std::string const no_check = ":qn.Error:" + std::to_string(qn::EC_NO_FILE_CHECK) + ":";
  EXPECT_EQ((std::vector<std::string>{"first" + no_check, "second" + no_check, "again:qn.Error:0:/run/fcheck.sock"}),
            answers);
}

// The candidate is the fingerprint of the last entry that has one, present but empty included;
// it is stored only when new and non-empty, and then empties the clean-file cache. VornD
// carries it inside its adaptor entry.
TEST_F(configd_tie_test, core_fingerprint_is_stored_only_when_new_and_non_empty) {
  configure("max_cache_size: 65536", true);
  // An entry in text format: the application, its extension, the fingerprint (null: unset).
  auto const entry = [](char const* app, bool vornd, char const* fingerprint) {
    std::string const print = fingerprint ? std::string("core_fingerprint: '") + fingerprint + "'" : "";
    return std::string("appinfo { app: ") + app + " pid: 1 " +
           (vornd ? "[qn.vornd_info] { se_adaptor_info { " + print + " } } } " : "[qn.se_info] { " + print + " } } ");
  };
  std::string const a = entry("APP_SCAN_ENGINE", false, "A"), b = entry("APP_SCAN_ENGINE", false, "B"),
                    none = entry("APP_SCAN_ENGINE", false, nullptr), v_empty = entry("APP_VORND", true, ""),
                    v_none = entry("APP_VORND", true, nullptr), v_d = entry("APP_VORND", true, "D"),
                    odd = entry("APP_SCAN_ENGINE", false, "\\x01\\xff");
  // Row 2: unchanged; rows 3 and 4: the extension must match the application.
  std::pair<std::string, std::string> const steps[] = {{a, "A"},
                                                       {a, "A"},
                                                       {entry("APP_VORND", false, "B"), "A"},
                                                       {entry("APP_SCAN_ENGINE", true, "B"), "A"},
                                                       {b + v_empty, "A"},
                                                       {b + none + v_none, "B"},
                                                       {a + v_d, "D"},
                                                       {v_d + odd, "\x01\xff"}};
  std::string stored;
  for (auto const& [entries, fingerprint] : steps) {
    qn::Configd2SMBGardixMessage message;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString("tag: APPINFO_NOTIFICATION " + entries, &message));
    std::shared_ptr<qn::RemoteUser> writer;
    app->file_cache->is_clean(1, 1, writer);
    configd.send(message);
    EXPECT_EQ(-1, poll());
    EXPECT_EQ(fingerprint, app->configd->stored_core_fingerprint()) << entries;
    EXPECT_EQ(stored == fingerprint, app->file_cache->size() == 1) << entries;
    stored = fingerprint;
  }
}

}  // namespace
