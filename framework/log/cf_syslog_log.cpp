#include "framework/log/cf_syslog_log.h"

#include <syslog.h>

#include <atomic>

namespace {

// The sink whose openlog is in force. A thread still writing through a
// replaced sink may release it after the new sink has opened the log; that
// late release must not close the new sink's log.
std::atomic<cf_syslog_log_t const*> g_open_sink{nullptr};

void system_open(char const* ident, int option, int facility) { ::openlog(ident, option, facility); }
void system_log(int priority, char const* text) { ::syslog(priority, "%s", text); }
void system_close() { ::closelog(); }

}  // namespace

cf_syslog_log_t::calls_t cf_syslog_log_t::calls = {&system_open, &system_log, &system_close};

cf_syslog_log_t::cf_syslog_log_t(char const* ident, int facility, callback_t const& additional_log,
                                 callback_t const& additional_tagged_log)
    : cf_log_t(additional_log, additional_tagged_log), facility(facility), ident(ident ? ident : "") {}

cf_syslog_log_t::~cf_syslog_log_t() {
  cf_syslog_log_t const* open_sink = this;
  if (g_open_sink.compare_exchange_strong(open_sink, nullptr) || !open_sink) calls.close();
}

void cf_syslog_log_t::open() {
  g_open_sink = this;
  calls.open(ident.empty() ? nullptr : ident.c_str(), LOG_PID, facility);
}

int cf_syslog_log_t::priority(int level) {
  if (level < CF_LOG_DEBUG || level > CF_LOG_ERROR) return LOG_ERR;
  return LOG_DEBUG - level;
}

void cf_syslog_log_t::write(int level, std::string const& text) { calls.log(priority(level), text.c_str()); }

void cf_syslog_log_t::write_tagged(std::string const& tag, int n, std::string const& text) {
  std::string const line = tag + "-" + std::to_string(n) + ": " + text;
  calls.log(LOG_ERR, line.c_str());
}

void cf_syslog_log_t::out_of_memory() { calls.log(LOG_ERR, "Error: Not enough memory"); }
