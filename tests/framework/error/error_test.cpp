// Errors: their texts, the ways the process ends, and the protobuf library's log lines.
#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>
#include <thread>

#include "framework/error/cf_error_conversions.h"
#include "framework/error/cf_exit.h"
#include "framework/error/cf_proto_exception.h"
#include "framework/error/cf_protobuf_log.h"
#include "framework/error/cf_terminate.h"
#include "framework/log/cf_console_log.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"

namespace {

// The plain Boost prefix is cut in the daemon's own lines; these are the cases around it.
TEST(cf_exception_to_text, the_listing_case_near_misses_and_a_buffer_per_thread) {
  for (auto [what, text] : std::vector<std::pair<char const*, char const*>>{
           {"boost::filesystem::directory_iterator::construct: main", "opendir: main"},
           {"boost::filesystem::directory_iterator::constructor: x", "constructor: x"},
           {"boost:x", "boost:x"},
           {"my boost::x", "my boost::x"}})
    EXPECT_STREQ(text, cf_exception_to_text(std::runtime_error(what))) << what;
  std::runtime_error const mine("boost::filesystem::directory_iterator::construct: main");
  char const* const main_text = cf_exception_to_text(mine);
  std::thread([] {
    cf_exception_to_text(std::runtime_error("boost::filesystem::directory_iterator::construct: other"));
  }).join();
  EXPECT_STREQ("opendir: main", main_text);
}

// A sink whose writes throw: std::bad_alloc when out_of_memory is set, else another error.
struct failing_log_t : cf_log_t {
  explicit failing_log_t(bool out_of_memory) : cf_log_t({}, {}), oom(out_of_memory) {}
  void open() override {}
  void write(int, std::string const&) override { oom ? throw std::bad_alloc() : throw std::runtime_error("no time"); }
  void write_tagged(std::string const&, int, std::string const&) override {}
  void out_of_memory() override { cf_log_write_string(2, "sink out of memory\n"); }
  bool oom;
};

// Terminates with e as the current exception.
template <typename E>
std::function<void()> fails_with(E e) {
  return [e] {
    try {
      throw e;
    } catch (...) {
      std::terminate();
    }
  };
}

// Buffered lines come first; the handler leaves at once, without the exit handlers. The status is
// the code of what was thrown; a failing log line keeps it, unless memory ran out.
TEST(cf_exit_and_terminate, status_and_line_also_when_the_sink_fails) {
  auto const failing = [] { cf_set_log(std::make_shared<failing_log_t>(false)); };
  auto const out_of_memory = [] { cf_set_log(std::make_shared<failing_log_t>(true)); };
  struct row_t {
    std::function<void()> setup, end;
    int status;
    char const* err;
  };
  for (row_t const& row : std::initializer_list<row_t>{
           {failing, [] { cf_exit(107); }, 107, "exit handlers ran\n"},
           {out_of_memory, [] { cf_exit(107); }, 107, "sink out of memory\nexit handlers ran\n"},
           {[] { cf_log(2, "notice before"); }, fails_with(std::runtime_error("boost::filesystem::canonical: gone")),
            125, "Notice: notice before\nError: canonical: gone\n"},
           {[] {}, fails_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12, "Error: bad peer\n"},
           {[] {}, fails_with(boost::system::system_error(EROFS, boost::system::system_category(), "write")), 28,
            "Error: write: Read-only file system\n"},
           {[] {}, fails_with(std::bad_alloc()), 21, "Error: Not enough memory\n"},
           {[] {}, [] { std::terminate(); }, 125, "Error: Unexpected exception\n"},
           {[] { cf_set_log(cf_make_console_log()), cf_log_threshold = 5; }, fails_with(std::runtime_error("quiet")),
            125, ""},
           {failing, fails_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12, ""},
           {out_of_memory, fails_with(std::runtime_error("x")), 21, "sink out of memory\n"}}) {
    test_run_t const r = run_child([&] {
      cf_log_reset_for_tests();
      cf_install_terminate_handler();
      std::atexit([] { cf_log_write_string(2, "exit handlers ran\n"); });
      row.setup();
      row.end();
    });
    EXPECT_EQ(row.status, r.status) << row.err;
    EXPECT_EQ(row.err, r.err) << row.status;
  }
}

TEST(cf_protobuf_log, levels_threshold_and_the_large_message_warning) {
  test_log_t log;
  std::string const large = "Reading dangerously large protocol message.  If the message turns out to be larger";
  using namespace google::protobuf;
  for (auto [level, threshold, message, logged] : std::vector<std::tuple<LogLevel, int, std::string, std::string>>{
           {LOGLEVEL_INFO, 0, "info", "Info: info"},
           {LOGLEVEL_WARNING, 0, large, ""},
           {LOGLEVEL_WARNING, 3, large.substr(0, 42), "Warning: " + large.substr(0, 42)},
           {LOGLEVEL_ERROR, 0, large, "Error: " + large},
           {LOGLEVEL_INFO, 2, "info", ""}}) {
    log.clear();
    cf_log_threshold = threshold;
    cf_protobuf_log_handler(level, "file.cc", 12, message);
    EXPECT_EQ(logged.empty() ? "" : logged + "\n", log.text()) << message;
  }
  LogHandler* const original = SetLogHandler(nullptr);
  cf_install_protobuf_log_handler();
  EXPECT_EQ(&cf_protobuf_log_handler, SetLogHandler(original));
}

}  // namespace
