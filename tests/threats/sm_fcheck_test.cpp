#include "tests/threats/threats_app_fixture.h"

namespace {

using sm_fcheck_test = threats_app_test;

TEST_F(sm_fcheck_test, subscription_course_alarms_suspension_and_failures) {
  // The file checker announces the database, which opens.
  auto const announce = [&](fc_socket_t& c) {
    int const opened = count("Debug: Threats base: opened at");
    send(c, server_t::THREATS_SUBSCRIBED, [&](server_t& m) { m.set_dbpath(db.db_path().string()); });
    pump([&] { return app->threat_base->is_opened() && count("Debug: Threats base: opened at") > opened; });
  };
  std::vector<std::string> outcomes;
  auto const threat_op = [&](std::int64_t id) {
    app->fcheck->async_threat_op(id, qn::THREAT_OP_DELETE, [&](auto const& ec) { outcomes.push_back(ec.message()); });
  };
  auto const history = db.add_history({db.add_threat("/share/f", 1, 7), 100, "s", 0, db.report_blob("/share/f")});
  configure(), configure("", true), configure();  // the first request is still unanswered: it serves two rounds
  threat_op(7);                                   // before the first connection
  fc_socket_t& c = accept_fc();
  EXPECT_EQ("SUBSCRIBE_TO_THREATS|THREAT_OP_REQUEST 7", collect(2));
  auto const notify = [&](server_t& m) { m.set_history_id(history); };
  send(c, server_t::THREATS_NOTIFICATION, notify);  // before the database is open: dropped
  announce(c);
  send(c, server_t::THREATS_NOTIFICATION, notify);
  pump([&] { return count("Debug: Threats base: SELECT t.threat_id, t.path, hr.scanreport") > 0; });
  // Announced again while open: reopened, and that close asks for no new subscription.
  sm_clock_t::advance(2s);
  announce(c);
  EXPECT_TRUE(quiet());
  EXPECT_EQ(1, count("Debug: Threats base: SELECT t.threat_id, t.path, hr.scanreport"));
  // Two alarms within a second: one subscription at once, the next a second after it.
  sm_clock_t::advance(2s);
  for (int i = 0; i < 2; ++i)
    send(c, server_t::THREATS_ALARM, [](server_t& m) { m.mutable_error()->set_code(qn::EC_DATA_CORRUPTED); });
  EXPECT_EQ("SUBSCRIBE_TO_THREATS", collect(1));
  sm_clock_t::advance(900ms);
  EXPECT_TRUE(quiet());
  sm_clock_t::advance(200ms);
  EXPECT_EQ("SUBSCRIBE_TO_THREATS", collect(1));
  // Suspension fails the waiting operations and those asked meanwhile, on the event loop.
  announce(c);
  threat_op(8);
  EXPECT_EQ("THREAT_OP_REQUEST 8", collect(1));
  configure("", true);
  EXPECT_FALSE(app->threat_base->is_opened());
  threat_op(9);
  EXPECT_EQ(2u, outcomes.size());
  pump([&] { return outcomes.size() == 3; });
  EXPECT_EQ(std::vector<std::string>(3, qn::make_error_code(qn::EC_APP_SUSPENDED).message()), outcomes);
  // Leaving suspension connects anew; twenty failures are each followed by a new socket request, and only 21 in a row
  // give up.
  configure();
  for (int failed = 1; failed <= 41; ++failed) {
    if (failed == 21)
      conns.clear(), announce(accept_fc()), conns.clear();  // a success: the link's end counts 1
    else
      EXPECT_TRUE(asks_for_socket((db.sandbox() / "nobody.sock").string())) << failed;
    pump([&] { return count("Error: Failed to create DazaVadov connection: connect: ") == failed - (failed > 20); });
    EXPECT_EQ(failed == 41, count("Notice: Threats subscription: too many errors, decided to be broken") == 1);
  }
  EXPECT_TRUE(quiet() && !configd.has_data());
  configure();
  EXPECT_TRUE(asks_for_socket(""));
}

}  // namespace
