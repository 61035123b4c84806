// Errors: their conversions, the ways the process ends, and the protobuf library's log lines.
#include <errno.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/system/system_error.hpp>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "framework/error/cf_error_conversions.h"
#include "framework/error/cf_exception.h"
#include "framework/error/cf_exit.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/error/cf_proto_exception.h"
#include "framework/error/cf_protobuf_log.h"
#include "framework/error/cf_terminate.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"

namespace {

using boost::system::error_code;

error_code system_code(int value) { return error_code(value, boost::system::system_category()); }

TEST(cf_exception_to_text, boost_prefix_and_the_listing_special_case) {
  for (auto [what, text] : std::vector<std::pair<char const*, char const*>>{
           {"boost::filesystem::directory_iterator::construct: No such file or directory",
            "opendir: No such file or directory"},
           {"boost::filesystem::directory_iterator::construct:", "opendir:"},
           {"boost::filesystem::directory_iterator::constructor: x", "constructor: x"},
           {"boost::filesystem::directory_iterator::construct", "construct"},
           {"boost::a::filesystem::directory_iterator::construct: x", "construct: x"},
           {"boost::", ""},
           {"boost::a_1::b2::", ""},
           {"boost::a-b::c", "a-b::c"},
           {"boost::::x", "::x"},
           {"boost:x", "boost:x"},
           {" boost::x", " boost::x"},
           {"my boost::x", "my boost::x"},
           {"", ""}})
    EXPECT_STREQ(text, cf_exception_to_text(std::runtime_error(what))) << what;
  EXPECT_STREQ("Not enough memory", cf_exception_to_text(std::bad_alloc()));
  std::bad_array_new_length const longer;  // only the exact type gets the fixed text
  EXPECT_STREQ(longer.what(), cf_exception_to_text(longer));

  // The text lives in a buffer per thread.
  std::runtime_error const mine("boost::filesystem::directory_iterator::construct: main thread");
  char const* const main_text = cf_exception_to_text(mine);
  std::string other_text;
  std::thread([&] {
    other_text = cf_exception_to_text(std::runtime_error("boost::filesystem::directory_iterator::construct: other"));
  }).join();
  EXPECT_STREQ("opendir: main thread", main_text);
  EXPECT_EQ("opendir: other", other_text);
}

struct derived_system_error_t : boost::system::system_error {
  derived_system_error_t() : boost::system::system_error(system_code(EEXIST), "exists") {}
};

TEST(cf_exception_conversions, by_what_was_thrown) {
  error_code const unexpected = qn::make_error_code(qn::EC_UNEXPECTED_ERROR);
  using row_t = std::tuple<std::exception_ptr, error_code, qn::ErrorCode, char const*>;
  for (auto const& [p, code, proto, text] : std::vector<row_t>{
           {std::exception_ptr(), error_code(), qn::EC_OK, "Success"},
           {std::make_exception_ptr(std::bad_alloc()), qn::make_error_code(qn::EC_NO_MEMORY), qn::EC_NO_MEMORY,
            "Not enough memory"},
           {std::make_exception_ptr(boost::system::system_error(system_code(EROFS), "boost::x::write")),
            system_code(EROFS), qn::EC_READ_ONLY_FS, "write: Read-only file system"},
           {std::make_exception_ptr(
                boost::filesystem::filesystem_error("boost::filesystem::canonical", system_code(ENOTDIR))),
            system_code(ENOTDIR), qn::EC_NOT_A_DIRECTORY, "canonical: Not a directory"},
           {std::make_exception_ptr(derived_system_error_t()), system_code(EEXIST), qn::EC_FILE_EXISTS,
            "exists: File exists"},
           {std::make_exception_ptr(cf_exception_t(system_code(EIO), "denied")), system_code(EIO),
            qn::EC_UNEXPECTED_ERROR, "denied"},
           {std::make_exception_ptr(cf_proto_exception_t(qn::EC_NOT_READY, "later")),
            qn::make_error_code(qn::EC_NOT_READY), qn::EC_NOT_READY, "later"},
           {std::make_exception_ptr(std::logic_error("boost::odd")), unexpected, qn::EC_UNEXPECTED_ERROR, "odd"},
           {std::make_exception_ptr(qn::EC_BAD_CONFIG), unexpected, qn::EC_UNEXPECTED_ERROR,
            "ErrorCode: Invalid configuration"},
           {std::make_exception_ptr(static_cast<qn::ErrorCode>(14)), unexpected, qn::EC_UNEXPECTED_ERROR,
            "ErrorCode: 14"},
           {std::make_exception_ptr(42), unexpected, qn::EC_UNEXPECTED_ERROR, "Unexpected exception"}}) {
    EXPECT_EQ(code, cf_exception_ptr_to_error_code(p)) << text;
    EXPECT_EQ(proto, cf_exception_ptr_to_proto_code(p)) << text;
    EXPECT_EQ(text, cf_exception_ptr_to_text(p));
    try {  // the conversions of an exception object agree
      if (p) std::rethrow_exception(p);
    } catch (std::exception const& e) {
      EXPECT_EQ(code, cf_exception_to_error_code(e)) << text;
      EXPECT_EQ(proto, cf_exception_to_proto_code(e)) << text;
      EXPECT_STREQ(text, cf_exception_to_text(e));
    } catch (...) {
    }
  }
  // Codes of the enum's category: their texts, a number outside the enum, no system error alike.
  EXPECT_EQ("Process terminated by signal", cf_proto_code_to_text(qn::EC_APP_TERMINATED));
  EXPECT_EQ("126", cf_proto_code_to_text(static_cast<qn::ErrorCode>(126)));
  EXPECT_EQ("qn.Error -3", qn::make_error_code(-3).message());
  EXPECT_EQ(qn::EC_UNEXPECTED_ERROR, cf_error_code_to_proto_code(qn::make_error_code(14)));
  EXPECT_NE(qn::make_error_code(2), system_code(2));
}

TEST(cf_proto_error_conversions, texts_exception_pointers_and_filled_messages) {
  EXPECT_FALSE(cf_error_code_to_exception_ptr(error_code(), "prefix"));
  try {
    std::rethrow_exception(cf_error_code_to_exception_ptr(system_code(ENOENT), "open"));
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(system_code(ENOENT), e.code());
    EXPECT_STREQ("open: No such file or directory", e.what());
  }
  qn::Error error;
  error.set_code(qn::EC_PROTOCOL_VIOLATION);
  for (char const* what : {static_cast<char const*>(nullptr), "missing serial"}) {
    if (what) error.set_what(what);
    try {
      std::rethrow_exception(cf_proto_error_to_exception_ptr(error));
    } catch (cf_proto_exception_t const& e) {
      EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, e.code());
      EXPECT_STREQ(what ? what : "Protocol violation", e.what());
    }
  }
  error.set_code(qn::EC_OK);
  EXPECT_FALSE(cf_proto_error_to_exception_ptr(error));

  cf_error_code_to_proto_error(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), error);
  EXPECT_EQ("code: EC_BAD_MESSAGE_SIZE what: \"Invalid IPC message size\"", error.ShortDebugString());
  cf_exception_to_proto_error(std::runtime_error("boost::asio::read: gone"), error);
  EXPECT_EQ("code: EC_UNEXPECTED_ERROR what: \"read: gone\"", error.ShortDebugString());
  cf_exception_ptr_to_proto_error(std::exception_ptr(), error);
  EXPECT_EQ("code: EC_OK what: \"Success\"", error.ShortDebugString());
}

// A sink whose writes throw: std::bad_alloc when out_of_memory is set, else another error.
class failing_log_t : public cf_log_t {
 public:
  explicit failing_log_t(bool out_of_memory) : cf_log_t({}, {}), oom(out_of_memory) {}
  void open() override {}
  void write(int, std::string const&) override { fail(); }
  void write_tagged(std::string const&, int, std::string const&) override { fail(); }
  void out_of_memory() override { cf_log_write_string(2, "sink out of memory\n"); }

 private:
  void fail() {
    if (oom) throw std::bad_alloc();
    throw std::runtime_error("could not convert calendar time to local time");
  }
  bool oom;
};

void say_exit_handlers_ran() { cf_log_write_string(2, "exit handlers ran\n"); }

// Throws out of a function that may not throw: the runtime calls terminate with the exception current.
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

struct row_t {
  std::function<void()> setup;
  std::function<void()> end;
  int status;
  char const* err;
};

void expect_rows(std::initializer_list<row_t> rows) {
  for (row_t const& row : rows) {
    test_run_t const r = run_child([&] {
      cf_log_reset_for_tests();
      cf_install_terminate_handler();
      std::atexit(&say_exit_handlers_ran);
      row.setup();
      row.end();
    });
    EXPECT_EQ(row.status, r.status) << row.err;
    EXPECT_EQ(row.err, r.err) << row.status;
  }
}

auto const notice = [] { cf_log(2, "notice before"); };
auto const failing = [] { cf_set_log(std::make_shared<failing_log_t>(false)); };
auto const out_of_memory = [] { cf_set_log(std::make_shared<failing_log_t>(true)); };

TEST(cf_exit, status_survives_an_exit_line_that_fails) {
  expect_rows({{failing, [] { cf_exit(107); }, 107, "exit handlers ran\n"},
               {out_of_memory, [] { cf_exit(107); }, 107, "sink out of memory\nexit handlers ran\n"}});
}

// Buffered lines come first; the handler leaves at once, without the exit handlers.
TEST(cf_terminate_handler, logs_the_exception_and_leaves_with_its_code) {
  expect_rows({
      {notice, fails_with(std::runtime_error("boost::filesystem::canonical: gone")), 125,
       "Notice: notice before\nError: canonical: gone\n"},
      {notice, fails_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12,
       "Notice: notice before\nError: bad peer\n"},
      {notice, fails_with(std::bad_alloc()), 21, "Notice: notice before\nError: Not enough memory\n"},
      {[] {}, [] { std::terminate(); }, 125, "Error: Unexpected exception\n"},
      {[] {
         cf_set_log(cf_make_console_log());
         cf_log_threshold = 5;
       },
       fails_with(std::runtime_error("quiet")), 125, ""},
      // A failing log line keeps the status, unless memory ran out.
      {failing, fails_with(cf_proto_exception_t(qn::EC_PROTOCOL_VIOLATION, "bad peer")), 12, ""},
      {out_of_memory, fails_with(std::runtime_error("x")), 21, "sink out of memory\n"},
  });
}

TEST(cf_protobuf_log, levels_threshold_and_the_large_message_warning) {
  test_log_t log;
  std::string const large = "Reading dangerously large protocol message.  If the message turns out to be larger";
  using google::protobuf::LOGLEVEL_WARNING;
  for (auto [level, threshold, message, logged] :
       std::vector<std::tuple<google::protobuf::LogLevel, int, std::string, std::string>>{
           {google::protobuf::LOGLEVEL_INFO, 0, "info", "Info: info"},
           {LOGLEVEL_WARNING, 0, large, ""},
           {LOGLEVEL_WARNING, 0, "Reading dangerously large protocol message",
            "Warning: Reading dangerously large protocol message"},
           {google::protobuf::LOGLEVEL_ERROR, 0, large, "Error: " + large},
           {google::protobuf::LOGLEVEL_FATAL, 0, "fatal", "Error: fatal"},
           {google::protobuf::LOGLEVEL_INFO, 3, "info", ""},
           {LOGLEVEL_WARNING, 3, "warning", "Warning: warning"},
           {google::protobuf::LOGLEVEL_ERROR, 5, "error", ""}}) {
    log.clear();
    cf_log_threshold = threshold;
    cf_protobuf_log_handler(level, "file.cc", 12, message);
    EXPECT_EQ(logged.empty() ? std::vector<std::string>{} : std::vector<std::string>{logged}, log.lines()) << message;
  }
  google::protobuf::LogHandler* const original = google::protobuf::SetLogHandler(nullptr);
  cf_install_protobuf_log_handler();
  EXPECT_EQ(&cf_protobuf_log_handler, google::protobuf::SetLogHandler(original));
}

}  // namespace
