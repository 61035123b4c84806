#pragma once

#include <memory>

#include "framework/log/cf_log.h"

// Plain lines on standard error: level name ": " text.
class cf_console_log_t : public cf_log_t {
 public:
  explicit cf_console_log_t(callback_t const& additional_log = callback_t(),
                            callback_t const& additional_tagged_log = callback_t());

  void open() override;
  void write(int level, std::string const& text) override;
  void write_tagged(std::string const& tag, int n, std::string const& text) override;
  void out_of_memory() override;
};

// A console sink with no additional callbacks.
std::shared_ptr<cf_log_t> cf_make_console_log();
