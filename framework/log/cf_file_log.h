#pragma once

#include <ctime>
#include <string>

#include "framework/log/cf_log.h"

// Time-stamped lines on a descriptor: "2026-Dec-06 02:11:47 [pid] Level: text".
class cf_file_log_t : public cf_log_t {
 public:
  cf_file_log_t(int fd, bool owns_fd, callback_t const& additional_log = callback_t(),
                callback_t const& additional_tagged_log = callback_t());
  ~cf_file_log_t() override;

  void open() override;
  void write(int level, std::string const& text) override;
  void write_tagged(std::string const& tag, int n, std::string const& text) override;
  void out_of_memory() override;

  // The local time to the second, in the date-time library's default form.
  // Throws std::runtime_error when the time has no local-time form.
  static std::string time_stamp(std::time_t when);

  // Source of the current time; tests replace it.
  static std::time_t (*clock)();

  int const fd;
  bool const owns_fd;
  int const pid;
};
