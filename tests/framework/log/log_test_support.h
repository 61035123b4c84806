#pragma once

// Sinks for tests of the process log: one that records its calls, one whose writes fail, and
// recorders in place of the system-log calls.

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/log/cf_log.h"
#include "framework/log/cf_syslog_log.h"
#include "tests/framework/util/test_child.h"

namespace log_test {

using events_t = std::vector<std::string>;

// Records every sink call as a line of text into a shared list.
class recording_log_t : public cf_log_t {
 public:
  explicit recording_log_t(std::shared_ptr<events_t> events, std::string name = "sink",
                           callback_t const& additional_log = callback_t(),
                           callback_t const& additional_tagged_log = callback_t())
      : cf_log_t(additional_log, additional_tagged_log), events_(std::move(events)), name_(std::move(name)) {}
  ~recording_log_t() override { add("closed"); }

  void open() override { add("open"); }
  void write(int level, std::string const& text) override { add("write " + std::to_string(level) + " " + text); }
  void write_tagged(std::string const& tag, int n, std::string const& text) override {
    add("tagged " + tag + " " + std::to_string(n) + " " + text);
  }
  void out_of_memory() override { add("out of memory"); }

 private:
  void add(std::string const& call) { events_->push_back(name_ + " " + call); }
  std::shared_ptr<events_t> events_;
  std::string name_;
};

// A sink whose writes throw: std::bad_alloc when out_of_memory is set, else another error. Its
// out_of_memory writes "sink out of memory" on descriptor 2.
class failing_log_t : public cf_log_t {
 public:
  explicit failing_log_t(bool out_of_memory) : cf_log_t(callback_t(), callback_t()), out_of_memory_(out_of_memory) {}

  void open() override {}
  void write(int, std::string const&) override { fail(); }
  void write_tagged(std::string const&, int, std::string const&) override { fail(); }
  void out_of_memory() override { cf_log_write_string(2, "sink out of memory\n"); }

 private:
  void fail() {
    if (out_of_memory_) throw std::bad_alloc();
    throw std::runtime_error("could not convert calendar time to local time");
  }
  bool out_of_memory_;
};

// Puts recorders in place of the system-log calls while alive.
class syslog_recorder_t {
 public:
  syslog_recorder_t() : saved_(cf_syslog_log_t::calls) {
    calls().clear();
    cf_syslog_log_t::calls = {&open, &log, &close};
  }
  ~syslog_recorder_t() { cf_syslog_log_t::calls = saved_; }
  static events_t& calls() {
    static events_t recorded;
    return recorded;
  }

 private:
  static void open(char const* ident, int option, int facility) {
    calls().push_back("openlog " + std::string(ident ? ident : "(null)") + " " + std::to_string(option) + " " +
                      std::to_string(facility));
  }
  static void log(int priority, char const* text) {
    calls().push_back("syslog " + std::to_string(priority) + " " + text);
  }
  static void close() { calls().push_back("closelog"); }

  cf_syslog_log_t::calls_t saved_;
};

// Runs body in a child (see qn_test::run_in_child) that starts with a fresh log.
inline qn_test::child_result_t run_logged(std::function<void()> const& body) {
  return qn_test::run_in_child([&] {
    cf_log_reset_for_tests();
    body();
  });
}

// Every test of the process log starts and ends with a fresh log.
class fresh_log_test : public ::testing::Test {
 protected:
  void SetUp() override { cf_log_reset_for_tests(); }
  void TearDown() override { cf_log_reset_for_tests(); }
};

}  // namespace log_test
