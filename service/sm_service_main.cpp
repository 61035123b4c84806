#include "service/sm_service_main.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <boost/lexical_cast.hpp>
#include <boost/system/system_error.hpp>

#include "framework/error/cf_exit.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"

int sm_parse_monitor_fd(std::string const& value) { return boost::lexical_cast<int>(value); }

namespace {

// Every idle module holds a descriptor; the usual soft limit of 1024 would lock out new ones long
// before the hard limit does.
void raise_descriptor_limit() {
  rlimit limit{};
  bool const known = ::getrlimit(RLIMIT_NOFILE, &limit) == 0;
  if (known && limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  if ((!known || ::setrlimit(RLIMIT_NOFILE, &limit) != 0) && cf_log_threshold <= CF_LOG_WARNING)
    cf_log(CF_LOG_WARNING, std::string("Failed to raise the limit on open files: ") + std::strerror(errno));
}

}  // namespace

void sm_run_service(char const* monitor, char const* version) {
  if (cf_log_threshold <= CF_LOG_NOTICE) cf_log(CF_LOG_NOTICE, std::string("SMBGardix ") + version);
  int const fd = sm_parse_monitor_fd(monitor);
  raise_descriptor_limit();
  {
    sm_app_t app(fd);
    app.configd->get_config_request();
    std::signal(SIGPIPE, SIG_IGN);
    ::umask(077);
    boost::system::error_code ec;
    app.io_context.run(ec);
    if (ec) throw boost::system::system_error(ec);
  }
  cf_exit(0);
}
