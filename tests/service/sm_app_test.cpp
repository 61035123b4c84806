#include "service/sm_app.h"

#include <csignal>
#include <functional>
#include <string>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "tests/service/sm_app_fixture.h"

namespace {

typedef sm_app_fixture app_test;

TEST_F(app_test, handlers_ignore_cancellation_and_throw_other_errors_named_after_their_source) {
  sm_share_stat_t stat(*app, std::chrono::hours(1));
  stat.count_in("/srv/a");
  struct handler_case {
    char const* prefix;
    std::function<void(boost::system::error_code const&)> handler;
  };
  handler_case const cases[] = {
      {"SIGHUP: ", [&](boost::system::error_code const& ec) { app->on_sighup(ec, SIGHUP); }},
      {"SIGTERM: ", [&](boost::system::error_code const& ec) { app->on_sigterm(ec, SIGTERM); }},
      {"StatTimer: ", [&](boost::system::error_code const& ec) { stat.on_timer(ec); }},
  };
  for (handler_case const& c : cases) {
    c.handler(boost::asio::error::operation_aborted);
    try {
      c.handler(boost::asio::error::bad_descriptor);
      ADD_FAILURE() << c.prefix << "no exception";
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(boost::asio::error::bad_descriptor, e.code());
      EXPECT_EQ(0u, std::string(e.what()).rfind(c.prefix, 0)) << e.what();
    }
  }
  EXPECT_TRUE(nothing_sent());
  EXPECT_TRUE(log->lines.empty()) << log->all();
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
