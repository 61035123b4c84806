#pragma once

#include <string>

#include "framework/log/cf_log.h"

// Writes to the system log; the level travels only as the priority.
class cf_syslog_log_t : public cf_log_t {
 public:
  // ident may be null (no ident).
  cf_syslog_log_t(char const* ident, int facility, callback_t const& additional_log = callback_t(),
                  callback_t const& additional_tagged_log = callback_t());
  // Calls closelog unless another sink has opened the system log since.
  ~cf_syslog_log_t() override;

  void open() override;
  void write(int level, std::string const& text) override;
  void write_tagged(std::string const& tag, int n, std::string const& text) override;
  void out_of_memory() override;

  // Priority of a level: 7 - level for 0..4, LOG_ERR otherwise.
  static int priority(int level);

  // The system-log calls the sink makes; tests put recorders here.
  struct calls_t {
    void (*open)(char const* ident, int option, int facility);
    void (*log)(int priority, char const* text);
    void (*close)();
  };
  static calls_t calls;

  int const facility;
  std::string const ident;
};
