#include "service/sm_service_main.h"

#include <sys/stat.h>

#include <csignal>

#include <boost/lexical_cast.hpp>
#include <boost/system/system_error.hpp>

#include "framework/error/cf_exit.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"

int sm_parse_monitor_fd(std::string const& value) { return boost::lexical_cast<int>(value); }

void sm_run_service(char const* monitor, char const* version) {
  if (cf_log_threshold <= CF_LOG_NOTICE) cf_log(CF_LOG_NOTICE, std::string("SMBGardix ") + version);
  int const fd = sm_parse_monitor_fd(monitor);
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
