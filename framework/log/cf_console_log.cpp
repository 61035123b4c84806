#include "framework/log/cf_console_log.h"

cf_console_log_t::cf_console_log_t(callback_t const& additional_log, callback_t const& additional_tagged_log)
    : cf_log_t(additional_log, additional_tagged_log) {}

void cf_console_log_t::open() {}

void cf_console_log_t::write(int level, std::string const& text) {
  std::string line = cf_log_format(level, text);
  line += '\n';
  std::lock_guard<std::mutex> lock(cf_log_mutex);
  cf_log_write_string(2, line);
}

void cf_console_log_t::write_tagged(std::string const& tag, int n, std::string const& text) {
  std::string line = tag;
  line += '-';
  line += std::to_string(n);
  line += ": ";
  line += text;
  line += '\n';
  std::lock_guard<std::mutex> lock(cf_log_mutex);
  cf_log_write_string(2, line);
}

void cf_console_log_t::out_of_memory() { cf_log_write_out_of_memory(2); }

std::shared_ptr<cf_log_t> cf_make_console_log() { return std::make_shared<cf_console_log_t>(); }
