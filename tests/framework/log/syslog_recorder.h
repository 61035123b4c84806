#pragma once

// Puts recorders in place of the system-log calls while alive.

#include <syslog.h>

#include <string>
#include <vector>

#include "framework/log/cf_syslog_log.h"

namespace log_test {

inline std::vector<std::string>& syslog_calls() {
  static std::vector<std::string> calls;
  return calls;
}

class syslog_recorder_t {
 public:
  syslog_recorder_t() : saved_(cf_syslog_log_t::calls) {
    syslog_calls().clear();
    cf_syslog_log_t::calls = {&open, &log, &close};
  }
  ~syslog_recorder_t() { cf_syslog_log_t::calls = saved_; }
  std::vector<std::string> const& calls() const { return syslog_calls(); }

 private:
  static void open(char const* ident, int option, int facility) {
    syslog_calls().push_back("openlog " + std::string(ident ? ident : "(null)") + " " + std::to_string(option) + " " +
                             std::to_string(facility));
  }
  static void log(int priority, char const* text) {
    syslog_calls().push_back("syslog " + std::to_string(priority) + " " + text);
  }
  static void close() { syslog_calls().push_back("closelog"); }

  cf_syslog_log_t::calls_t saved_;
};

}  // namespace log_test
