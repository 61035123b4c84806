#include "service/sm_app.h"

#include <signal.h>

#include <string>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "tests/service/sm_app_fixture.h"

namespace {

// SIGHUP and SIGTERM themselves are sent to the real daemon (sm_service_main_test).
class app_test : public sm_app_fixture {};

TEST_F(app_test, signal_handlers_ignore_cancellation_and_throw_other_errors_named_after_the_signal) {
  struct handler_case {
    void (sm_app_t::*handler)(boost::system::error_code const&, int);
    char const* prefix;
  };
  handler_case const cases[] = {{&sm_app_t::on_sighup, "SIGHUP: "}, {&sm_app_t::on_sigterm, "SIGTERM: "}};
  for (handler_case const& c : cases) {
    (app.get()->*c.handler)(boost::asio::error::operation_aborted, 0);
    try {
      (app.get()->*c.handler)(boost::asio::error::bad_descriptor, 0);
      ADD_FAILURE() << c.prefix << "no exception";
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(boost::asio::error::bad_descriptor, e.code());
      EXPECT_EQ(0u, std::string(e.what()).rfind(c.prefix, 0)) << e.what();
    }
  }
  poll();
  EXPECT_FALSE(peer_has_data());
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
