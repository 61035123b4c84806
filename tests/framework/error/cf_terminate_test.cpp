#include "framework/error/cf_terminate.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>

#include "framework/error/cf_proto_error_impl.h"
#include "framework/error/cf_proto_exception.h"
#include "framework/log/cf_console_log.h"
#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::run_in_child;

void say_exit_handlers_ran() { cf_log_write_string(2, "exit handlers ran\n"); }

// Throws out of a function that may not throw: the runtime calls terminate
// with the exception current.
template <typename E>
[[noreturn]] void throw_it(E e) {
  throw e;
}
template <typename E>
void throw_through_noexcept(E e) noexcept {
  throw_it(e);
}

template <typename E>
log_test::child_result_t terminate_with(E e) {
  return run_in_child([e] {
    cf_install_terminate_handler();
    std::atexit(&say_exit_handlers_ran);
    cf_log(1, "info before");
    cf_log(2, "notice before");
    throw_through_noexcept(e);
  });
}

TEST(cf_terminate_handler, std_exceptions_exit_with_their_code) {
  struct row_t {
    log_test::child_result_t result;
    int status;
    char const* line;
  };
  for (row_t const& row : {
           row_t{terminate_with(std::runtime_error("boost::filesystem::canonical: gone")), 125,
                 "Error: canonical: gone\n"},
           row_t{terminate_with(boost::system::system_error(
                     boost::system::error_code(ENOENT, boost::system::system_category()), "boost::x::open")),
                 23, nullptr},
           row_t{terminate_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12, "Error: bad peer\n"},
           row_t{terminate_with(std::bad_alloc()), 21, "Error: Not enough memory\n"},
       }) {
    EXPECT_EQ(row.status, row.result.exit_status()) << row.result.stderr_text;
    std::string const& text = row.result.stderr_text;
    ASSERT_EQ(0u, text.find("Notice: notice before\nError: ")) << text;
    if (row.line)
      EXPECT_EQ(std::string("Notice: notice before\n") + row.line, text);
    else
      EXPECT_EQ(0u, text.find("Notice: notice before\nError: open: ")) << text;
    // _exit: no exit handlers, no flush.
    EXPECT_EQ(std::string::npos, text.find("exit handlers ran"));
  }
}

TEST(cf_terminate_handler, anything_else_is_an_unexpected_exception) {
  struct row_t {
    log_test::child_result_t result;
    char const* text;
  };
  for (row_t const& row : {
           row_t{terminate_with(qn::EC_BAD_CONFIG), "Notice: notice before\nError: Unexpected exception\n"},
           row_t{terminate_with(42), "Notice: notice before\nError: Unexpected exception\n"},
           row_t{run_in_child([] {
                   cf_install_terminate_handler();
                   std::terminate();
                 }),
                 "Error: Unexpected exception\n"},
       }) {
    EXPECT_EQ(125, row.result.exit_status());
    EXPECT_EQ(row.text, row.result.stderr_text);
  }
}

TEST(cf_terminate_handler, installed_sink_and_threshold_are_kept) {
  log_test::child_result_t const result = run_in_child([] {
    cf_install_terminate_handler();
    cf_set_log(cf_make_console_log());
    cf_log_threshold = 5;
    throw_through_noexcept(std::runtime_error("quiet"));
  });
  EXPECT_EQ(125, result.exit_status());
  EXPECT_EQ("", result.stderr_text);
}

TEST(cf_terminate_handler, memory_running_out_while_logging_exits_with_21) {
  for (bool std_exception : {true, false}) {
    log_test::child_result_t const result = run_in_child([std_exception] {
      cf_install_terminate_handler();
      cf_set_log(std::make_shared<log_test::failing_log_t>(true));
      if (std_exception) throw_through_noexcept(std::runtime_error("x"));
      throw_through_noexcept(7);
    });
    EXPECT_EQ(21, result.exit_status());
    EXPECT_EQ("sink out of memory\n", result.stderr_text);
  }
}

TEST(cf_terminate_handler, other_failure_while_logging_keeps_the_status) {
  log_test::child_result_t const result = run_in_child([] {
    cf_install_terminate_handler();
    cf_set_log(std::make_shared<log_test::failing_log_t>(false));
    throw_through_noexcept(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer"));
  });
  EXPECT_EQ(12, result.exit_status());
  EXPECT_EQ("", result.stderr_text);
}

TEST(cf_terminate_handler, installed_as_the_terminate_handler) {
  log_test::child_result_t const result = run_in_child([] {
    cf_install_terminate_handler();
    EXPECT_EQ(&cf_terminate_handler, std::get_terminate());
  });
  EXPECT_EQ(0, result.exit_status());
}

}  // namespace
