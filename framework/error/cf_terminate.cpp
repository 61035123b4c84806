#include "framework/error/cf_terminate.h"

#include <unistd.h>

#include <exception>
#include <new>

#include "framework/error/cf_error_conversions.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"

namespace {

// Stands for "terminate without an exception".
struct no_exception_t {};

[[noreturn]] void log_and_leave(char const* text, int status) noexcept {
  try {
    if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, text);
  } catch (std::bad_alloc const&) {
    cf_log_out_of_memory();
    ::_exit(qn::EC_NO_MEMORY);
  } catch (...) {
  }
  ::_exit(status);
}

}  // namespace

void cf_install_terminate_handler() { std::set_terminate(&cf_terminate_handler); }

void cf_terminate_handler() {
  try {
    if (!cf_is_log_set()) {
      cf_log_threshold = CF_LOG_NOTICE;
      cf_set_log(cf_make_console_log());
    }
    if (std::exception_ptr current = std::current_exception()) std::rethrow_exception(current);
    throw no_exception_t();
  } catch (std::exception const& e) {
    log_and_leave(cf_exception_to_text(e), cf_exception_to_proto_code(e));
  } catch (...) {
    log_and_leave("Unexpected exception", qn::EC_UNEXPECTED_ERROR);
  }
}
