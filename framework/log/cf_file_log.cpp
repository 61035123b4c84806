#include "framework/log/cf_file_log.h"

#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <sstream>
#include <stdexcept>

namespace {

std::time_t system_clock_now() { return std::time(nullptr); }

}  // namespace

std::time_t (*cf_file_log_t::clock)() = &system_clock_now;

cf_file_log_t::cf_file_log_t(int fd, bool owns_fd, callback_t const& additional_log,
                             callback_t const& additional_tagged_log)
    : cf_log_t(additional_log, additional_tagged_log), fd(fd), owns_fd(owns_fd), pid(::getpid()) {}

cf_file_log_t::~cf_file_log_t() {
  if (owns_fd && fd >= 0) ::close(fd);
}

void cf_file_log_t::open() {}

std::string cf_file_log_t::time_stamp(std::time_t when) {
  std::tm local;
  if (!::localtime_r(&when, &local)) throw std::runtime_error("could not convert calendar time to local time");
  std::ostringstream out;
  out << boost::posix_time::ptime_from_tm(local);
  return out.str();
}

void cf_file_log_t::write(int level, std::string const& text) {
  std::string line = time_stamp(clock());
  line += " [";
  line += std::to_string(pid);
  line += "] ";
  line += cf_log_level_name(level);
  line += ": ";
  line += text;
  line += '\n';
  std::lock_guard<std::mutex> lock(cf_log_mutex);
  cf_log_write_string(fd, line);
}

void cf_file_log_t::write_tagged(std::string const& tag, int n, std::string const& text) {
  std::string line = time_stamp(clock());
  line += ' ';
  line += cf_log_format_tagged(tag, n, text);
  line += '\n';
  std::lock_guard<std::mutex> lock(cf_log_mutex);
  cf_log_write_string(fd, line);
}

void cf_file_log_t::out_of_memory() { cf_log_write_out_of_memory(fd); }
