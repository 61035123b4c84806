#include "framework/error/cf_exit.h"

#include <cstdlib>
#include <new>
#include <string>

#include "framework/error/cf_error_conversions.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"

void cf_exit(int status) {
  // The status must reach the parent even when the log fails.
  try {
    if (!cf_is_log_set()) {
      cf_log_threshold = CF_LOG_NOTICE;
      cf_set_log(cf_make_console_log());
    }
    if (cf_log_threshold <= CF_LOG_NOTICE)
      cf_log(CF_LOG_NOTICE, "Exit with status " + std::to_string(status) + " (" +
                                cf_proto_code_to_text(static_cast<qn::ErrorCode>(status)) + ")");
  } catch (std::bad_alloc const&) {
    cf_log_out_of_memory();
  } catch (...) {
  }
  std::exit(status);
}
