// GCC flags Boost.Signals2's connect as maybe-uninitialized under the sanitizers (a false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "service/sm_app.h"

#include <signal.h>

#include <string>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "tests/service/sm_app_fixture.h"

namespace {

typedef qn::SMBGardix2ConfigdMessage out_t;

class app_test : public sm_app_fixture {};

TEST_F(app_test, built_with_nothing_queued_and_empty_settings) {
  EXPECT_FALSE(app->settings->suspended);
  EXPECT_TRUE(app->configd->is_open());
  poll();
  EXPECT_FALSE(peer_has_data());
}

TEST_F(app_test, sighup_asks_for_the_settings_and_waits_again) {
  ASSERT_EQ(0, ::raise(SIGHUP));
  EXPECT_EQ(out_t::GET_CONFIG_REQUEST, receive().tag());
  ASSERT_EQ(0, ::raise(SIGHUP));
  EXPECT_EQ(out_t::GET_CONFIG_REQUEST, receive().tag());
  EXPECT_EQ(2, static_cast<int>(log->lines.size()));
  EXPECT_TRUE(log->has("Notice: SIGHUP received, config will be ordered from ConfigD")) << log->all();
}

TEST_F(app_test, sigterm_throws_107) {
  ASSERT_EQ(0, ::raise(SIGTERM));
  EXPECT_EQ(qn::EC_APP_TERMINATED, poll_for_code());
  EXPECT_TRUE(log->has("Notice: Termination signal received, exiting...")) << log->all();
}

TEST_F(app_test, signal_handlers_ignore_cancellation) {
  app->on_sighup(boost::asio::error::operation_aborted, SIGHUP);
  app->on_sigterm(boost::asio::error::operation_aborted, SIGTERM);
  poll();
  EXPECT_FALSE(peer_has_data());
  EXPECT_TRUE(log->lines.empty()) << log->all();
}

TEST_F(app_test, signal_handlers_throw_other_errors_named_after_the_signal) {
  struct handler_case {
    void (sm_app_t::*handler)(boost::system::error_code const&, int);
    char const* prefix;
  };
  handler_case const cases[] = {{&sm_app_t::on_sighup, "SIGHUP: "}, {&sm_app_t::on_sigterm, "SIGTERM: "}};
  for (handler_case const& c : cases) {
    try {
      (app.get()->*c.handler)(boost::asio::error::bad_descriptor, 0);
      ADD_FAILURE() << c.prefix << "no exception";
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(boost::asio::error::bad_descriptor, e.code());
      EXPECT_EQ(0u, std::string(e.what()).rfind(c.prefix, 0)) << e.what();
    }
  }
}

TEST_F(app_test, reconfigure_fires_the_signal_once) {
  int fired = 0;
  app->reconfigured.connect([&] { ++fired; });
  app->reconfigure();
  EXPECT_EQ(1, fired);
}

TEST(app_construction, descriptor_that_cannot_be_assigned_throws_assign) {
  try {
    sm_app_t app(-1);
    FAIL() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(0u, std::string(e.what()).rfind("assign: ", 0)) << e.what();
  }
}

}  // namespace
