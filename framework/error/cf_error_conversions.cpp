#include "framework/error/cf_error_conversions.h"

#include <boost/system/system_error.hpp>
#include <boost/xpressive/xpressive_static.hpp>
#include <cstring>
#include <new>
#include <typeinfo>

#include "framework/error/cf_exception.h"
#include "framework/error/cf_proto_exception.h"
#include "framework/text/cf_enum_text.h"

namespace {

namespace xp = boost::xpressive;
namespace errc = boost::system::errc;

struct errno_row_t {
  errc::errc_t condition;
  qn::ErrorCode code;
};

errno_row_t const g_errno_table[] = {
    {errc::success, qn::EC_OK},
    {errc::permission_denied, qn::EC_PERMISSION_DENIED},
    {errc::operation_not_permitted, qn::EC_PERMISSION_DENIED},
    {errc::no_such_file_or_directory, qn::EC_NO_SUCH_ENTRY},
    {errc::not_a_directory, qn::EC_NOT_A_DIRECTORY},
    {errc::read_only_file_system, qn::EC_READ_ONLY_FS},
    {errc::invalid_argument, qn::EC_INVALID_ARGUMENT},
    {errc::file_exists, qn::EC_FILE_EXISTS},
    {errc::address_in_use, qn::EC_NAME_ALREADY_IN_USE},
    {errc::cross_device_link, qn::EC_CROSS_DEVICE_LINK},
    {errc::not_enough_memory, qn::EC_NO_MEMORY},
};

// Boost's messages put the namespaces of the failing function first.
xp::cregex const* boost_prefix_pattern() noexcept {
  static xp::cregex const* const pattern = []() noexcept -> xp::cregex const* {
    try {
      return new xp::cregex(xp::bos >> "boost::" >> *(+xp::_w >> "::"));
    } catch (...) {
      return nullptr;
    }
  }();
  return pattern;
}

char const g_listing_prefix[] = "boost::filesystem::directory_iterator::";
char const g_listing_function[] = "construct:";

thread_local std::string t_text_buffer;

}  // namespace

char const* cf_exception_to_text(std::exception const& e) noexcept {
  char const* const text = e.what();
  try {
    xp::cregex const* pattern = boost_prefix_pattern();
    xp::cmatch match;
    if (pattern && xp::regex_search(text, match, *pattern)) {
      std::size_t const length = static_cast<std::size_t>(match.length(0));
      char const* const rest = text + length;
      if (length == sizeof g_listing_prefix - 1 && std::strncmp(text, g_listing_prefix, length) == 0 &&
          std::strncmp(rest, g_listing_function, sizeof g_listing_function - 1) == 0) {
        t_text_buffer = "opendir:";
        t_text_buffer += rest + (sizeof g_listing_function - 1);
        return t_text_buffer.c_str();
      }
      return rest;
    }
  } catch (...) {
  }
  if (typeid(e) == typeid(std::bad_alloc)) return "Not enough memory";
  return text;
}

qn::ErrorCode cf_error_code_to_proto_code(boost::system::error_code const& code) {
  if (code.category() == qn::cf_proto_category() && qn::ErrorCode_IsValid(code.value()))
    return static_cast<qn::ErrorCode>(code.value());
  for (errno_row_t const& row : g_errno_table)
    if (code == errc::make_error_condition(row.condition)) return row.code;
  return qn::EC_UNEXPECTED_ERROR;
}

boost::system::error_code cf_exception_to_error_code(std::exception const& e) {
  if (auto system = dynamic_cast<boost::system::system_error const*>(&e)) return system->code();
  if (auto proto = dynamic_cast<cf_proto_exception_t const*>(&e)) return qn::make_error_code(proto->code());
  if (auto own = dynamic_cast<cf_exception_t const*>(&e)) return own->code();
  if (dynamic_cast<std::bad_alloc const*>(&e)) return qn::make_error_code(qn::EC_NO_MEMORY);
  return qn::make_error_code(qn::EC_UNEXPECTED_ERROR);
}

qn::ErrorCode cf_exception_to_proto_code(std::exception const& e) {
  return cf_error_code_to_proto_code(cf_exception_to_error_code(e));
}

std::string cf_proto_code_to_text(qn::ErrorCode code) {
  if (qn::ErrorCode_IsValid(code)) return cf_enum_value_text(qn::ErrorCode_descriptor()->FindValueByNumber(code));
  return std::to_string(static_cast<int>(code));
}

boost::system::error_code cf_exception_ptr_to_error_code(std::exception_ptr const& p) {
  if (!p) return boost::system::error_code();
  try {
    std::rethrow_exception(p);
  } catch (std::bad_alloc const&) {
    return qn::make_error_code(qn::EC_NO_MEMORY);
  } catch (boost::system::system_error const& e) {
    return e.code();
  } catch (cf_exception_t const& e) {
    return e.code();
  } catch (cf_proto_exception_t const& e) {
    return qn::make_error_code(e.code());
  } catch (...) {
  }
  return qn::make_error_code(qn::EC_UNEXPECTED_ERROR);
}

qn::ErrorCode cf_exception_ptr_to_proto_code(std::exception_ptr const& p) {
  return cf_error_code_to_proto_code(cf_exception_ptr_to_error_code(p));
}

std::string cf_exception_ptr_to_text(std::exception_ptr const& p) {
  if (!p) return cf_proto_code_to_text(qn::EC_OK);
  try {
    std::rethrow_exception(p);
  } catch (std::exception const& e) {
    return cf_exception_to_text(e);
  } catch (qn::ErrorCode code) {
    return "ErrorCode: " + cf_proto_code_to_text(code);
  } catch (...) {
  }
  return "Unexpected exception";
}

std::exception_ptr cf_error_code_to_exception_ptr(boost::system::error_code const& code) {
  if (!code) return std::exception_ptr();
  return std::make_exception_ptr(boost::system::system_error(code));
}

std::exception_ptr cf_error_code_to_exception_ptr(boost::system::error_code const& code, std::string const& what) {
  if (!code) return std::exception_ptr();
  return std::make_exception_ptr(boost::system::system_error(code, what));
}

std::string cf_proto_error_to_text(qn::Error const& error) {
  if (error.has_what()) return error.what();
  return cf_proto_code_to_text(error.code());
}

std::exception_ptr cf_proto_error_to_exception_ptr(qn::Error const& error) {
  if (!error.has_code() || error.code() == qn::EC_OK) return std::exception_ptr();
  return std::make_exception_ptr(cf_proto_exception_t(error));
}

void cf_error_code_to_proto_error(boost::system::error_code const& code, qn::Error& error) {
  error.set_code(cf_error_code_to_proto_code(code));
  error.set_what(code.message());
}

void cf_exception_to_proto_error(std::exception const& e, qn::Error& error) {
  error.set_code(cf_exception_to_proto_code(e));
  error.set_what(cf_exception_to_text(e));
}

void cf_exception_ptr_to_proto_error(std::exception_ptr const& p, qn::Error& error) {
  error.set_code(cf_exception_ptr_to_proto_code(p));
  error.set_what(cf_exception_ptr_to_text(p));
}
