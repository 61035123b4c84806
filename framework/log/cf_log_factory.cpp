#include "framework/log/cf_log_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <syslog.h>

#include <boost/filesystem/path.hpp>
#include <boost/filesystem/exception.hpp>
#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <boost/system/error_code.hpp>
#include <cstdlib>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_file_log.h"
#include "framework/log/cf_syslog_log.h"

namespace {

char const g_pipe_variable[] = "COM_QUARN_ADD_LOG_PIPE";

void do_nothing(std::string const&) {}

// Facilities of the numbers 2..17; the gap 4..9 holds no facility of its own.
int const g_facilities[16] = {LOG_USER,   LOG_MAIL,   LOG_DAEMON, LOG_DAEMON, LOG_DAEMON, LOG_DAEMON,
                              LOG_DAEMON, LOG_DAEMON, LOG_LOCAL0, LOG_LOCAL1, LOG_LOCAL2, LOG_LOCAL3,
                              LOG_LOCAL4, LOG_LOCAL5, LOG_LOCAL6, LOG_LOCAL7};

int syslog_facility(int value) {
  unsigned const index = static_cast<unsigned>(value) - 2u;
  if (index < 16u) return g_facilities[index];
  return LOG_DAEMON;
}

int open_log_file(std::string const& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd >= 0) return fd;
  int const first_error = errno;
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  if (fd >= 0) return fd;
  throw boost::filesystem::filesystem_error("Cannot create log", boost::filesystem::path(path),
                                            boost::system::error_code(first_error, boost::system::system_category()));
}

}  // namespace

std::shared_ptr<cf_log_t> cf_log_factory(qn::Log const& settings, cf_log_t::callback_t& additional_log,
                                         cf_log_t::callback_t& additional_tagged_log) {
  bool pipe_from_environment = false;
  if (!additional_log) {
    additional_log = &do_nothing;
    if (char const* value = std::getenv(g_pipe_variable)) {
      int fd = -1;
      if (boost::conversion::try_lexical_convert(value, fd)) {
        if (cf_log_threshold <= CF_LOG_DEBUG)
          cf_log(CF_LOG_DEBUG, "Log Factory: Additional log - " + std::to_string(fd));
        additional_log = [fd](std::string const& text) {
          cf_log_write_string(fd, text);
          cf_log_write_fd(fd, "\n", 1);
        };
        pipe_from_environment = true;
      } else if (cf_log_threshold <= CF_LOG_ERROR) {
        cf_log(CF_LOG_ERROR, "Log Factory: Wrong environment variable COM_QUARN_ADD_LOG_PIPE");
      }
    }
  }
  bool tagged_is_copy = false;
  if (!additional_tagged_log) {
    additional_tagged_log = additional_log;
    tagged_is_copy = true;
  }

  switch (settings.type()) {
    case qn::Log::SYSLOG:
      return std::make_shared<cf_syslog_log_t>(settings.has_ident() ? settings.ident().c_str() : nullptr,
                                               syslog_facility(settings.facility()), additional_log,
                                               additional_tagged_log);
    case qn::Log::FILE:
      return std::make_shared<cf_file_log_t>(open_log_file(settings.path()), true, additional_log,
                                             additional_tagged_log);
    case qn::Log::STDERR: {
      // Standard error already is the console: no copy to the pipe.
      cf_log_t::callback_t const plain = pipe_from_environment ? cf_log_t::callback_t() : additional_log;
      cf_log_t::callback_t const tagged = tagged_is_copy ? plain : additional_tagged_log;
      if (settings.show_timestamp()) return std::make_shared<cf_file_log_t>(2, false, plain, tagged);
      return std::make_shared<cf_console_log_t>(plain, tagged);
    }
    default:
      return std::shared_ptr<cf_log_t>();
  }
}
