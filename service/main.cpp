#include <csignal>
#include <cstdlib>
#include <exception>

#include "error.pb.h"
#include "framework/cmdline/cf_cmdline.h"
#include "framework/error/cf_error_conversions.h"
#include "framework/error/cf_exit.h"
#include "framework/error/cf_protobuf_log.h"
#include "framework/error/cf_terminate.h"
#include "framework/log/cf_log.h"
#include "service/sm_service_main.h"

// Four dot-separated numbers, the last a build time stamp; the build passes the real one.
#ifndef QN_VERSION
#define QN_VERSION "1.0.0.0"
#endif

int main(int argc, char* argv[]) {
  cf_install_terminate_handler();
  cf_install_protobuf_log_handler();

  try {
    char const* monitor = std::getenv("COM_QUARN_MONITOR");
    if (!monitor) {
      // Help piped into a program that stops reading must still exit with its own status.
      std::signal(SIGPIPE, SIG_IGN);
      cf_run_standalone("quarn-smbgardix", QN_VERSION, argc, argv);
      cf_exit(qn::EC_OK);
    }
    sm_run_service(monitor, QN_VERSION);
  } catch (qn::ErrorCode code) {
    cf_exit(code);
  } catch (std::exception const& e) {
    if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, cf_exception_to_text(e));
    cf_exit(cf_exception_to_proto_code(e));
  }
}
