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

namespace {

char const program_name[] = "quarn-smbgardix";
char const version_text[] = QN_VERSION;

// ---------------------------------------------------------------------------------------------
// Service mode (started by ConfigD with COM_QUARN_MONITOR set).
[[noreturn]] void run_service(char const* monitor)
{
  sm_run_service(monitor, version_text);
}
// ---------------------------------------------------------------------------------------------

} // namespace

int main(int argc, char* argv[])
{
  cf_install_terminate_handler();
  cf_install_protobuf_log_handler();

  try {
    char const* monitor = std::getenv("COM_QUARN_MONITOR");
    if (!monitor) {
      cf_run_standalone(program_name, version_text, argc, argv);
      cf_exit(qn::EC_OK);
    }
    run_service(monitor);
  } catch (qn::ErrorCode code) {
    cf_exit(code);
  } catch (std::exception const& e) {
    if (cf_log_threshold <= CF_LOG_ERROR)
      cf_log(CF_LOG_ERROR, cf_exception_to_text(e));
    cf_exit(cf_exception_to_proto_code(e));
  }
}
