#include "framework/error/cf_terminate.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <stdexcept>

#include "framework/error/cf_proto_error_impl.h"
#include "framework/error/cf_proto_exception.h"
#include "framework/log/cf_console_log.h"
#include "tests/framework/log/log_test_support.h"

namespace {

using log_test::failing_log_t;

void say_exit_handlers_ran() { cf_log_write_string(2, "exit handlers ran\n"); }

// Throws out of a function that may not throw: the runtime calls terminate with the exception
// current.
template <typename E>
[[noreturn]] void throw_it(E e) {
  throw e;
}
template <typename E>
void throw_through_noexcept(E e) noexcept {
  throw_it(e);
}
template <typename E>
std::function<void()> fails_with(E e) {
  return [e] { throw_through_noexcept(e); };
}

TEST(cf_terminate_handler, logs_the_exception_and_leaves_with_its_code) {
  struct row_t {
    std::function<void()> setup;
    std::function<void()> end;
    int status;
    char const* err;
  };
  // Buffered lines come first; _exit runs no exit handlers.
  auto const lines = [] {
    std::atexit(&say_exit_handlers_ran);
    cf_log(1, "info before");
    cf_log(2, "notice before");
  };
  auto const quiet_console = [] {
    cf_set_log(cf_make_console_log());
    cf_log_threshold = 5;
  };
  auto const failing = [] { cf_set_log(std::make_shared<failing_log_t>(false)); };
  auto const out_of_memory = [] { cf_set_log(std::make_shared<failing_log_t>(true)); };
  boost::system::error_code const enoent(ENOENT, boost::system::system_category());
  for (row_t const& row :
       {row_t{lines, fails_with(std::runtime_error("boost::filesystem::canonical: gone")), 125,
              "Notice: notice before\nError: canonical: gone\n"},
        row_t{lines, fails_with(boost::system::system_error(enoent, "boost::x::open")), 23,
              "Notice: notice before\nError: open: No such file or directory\n"},
        row_t{lines, fails_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12,
              "Notice: notice before\nError: bad peer\n"},
        row_t{lines, fails_with(std::bad_alloc()), 21, "Notice: notice before\nError: Not enough memory\n"},
        row_t{lines, fails_with(qn::EC_BAD_CONFIG), 125, "Notice: notice before\nError: Unexpected exception\n"},
        row_t{lines, fails_with(42), 125, "Notice: notice before\nError: Unexpected exception\n"},
        row_t{[] {}, [] { std::terminate(); }, 125, "Error: Unexpected exception\n"},
        // An installed sink and the threshold are kept.
        row_t{quiet_console, fails_with(std::runtime_error("quiet")), 125, ""},
        // A failing log line keeps the status, unless memory ran out.
        row_t{failing, fails_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12, ""},
        row_t{out_of_memory, fails_with(std::runtime_error("x")), 21, "sink out of memory\n"},
        row_t{out_of_memory, fails_with(7), 21, "sink out of memory\n"}}) {
    qn_test::child_result_t const r = log_test::run_logged([&] {
      cf_install_terminate_handler();
      row.setup();
      row.end();
    });
    EXPECT_EQ(row.status, r.status) << row.err;
    EXPECT_EQ(row.err, r.err) << row.status;
  }
}

}  // namespace
