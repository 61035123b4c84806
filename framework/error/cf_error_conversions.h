#pragma once

// Conversions between error codes, exceptions, qn::ErrorCode values, their
// texts and qn::Error messages.

#include <boost/system/error_code.hpp>
#include <exception>
#include <string>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"

// A "qn.Error" code of a valid value is itself; anything else goes through a
// fixed table of errno conditions, 125 when none matches.
qn::ErrorCode cf_error_code_to_proto_code(boost::system::error_code const& code);

boost::system::error_code cf_exception_to_error_code(std::exception const& e);
qn::ErrorCode cf_exception_to_proto_code(std::exception const& e);

// The text to log for an exception, without Boost's namespace prefix. Valid
// until the next call on the same thread and while the exception lives.
char const* cf_exception_to_text(std::exception const& e) noexcept;

// The enum value's text, or the number in decimal for a value the enum lacks.
std::string cf_proto_code_to_text(qn::ErrorCode code);

boost::system::error_code cf_exception_ptr_to_error_code(std::exception_ptr const& p);
qn::ErrorCode cf_exception_ptr_to_proto_code(std::exception_ptr const& p);
std::string cf_exception_ptr_to_text(std::exception_ptr const& p);

// Null for success, else a boost::system::system_error of the code.
std::exception_ptr cf_error_code_to_exception_ptr(boost::system::error_code const& code);
std::exception_ptr cf_error_code_to_exception_ptr(boost::system::error_code const& code, std::string const& what);

std::string cf_proto_error_to_text(qn::Error const& error);
// Null unless the message has a code other than EC_OK.
std::exception_ptr cf_proto_error_to_exception_ptr(qn::Error const& error);

void cf_error_code_to_proto_error(boost::system::error_code const& code, qn::Error& error);
void cf_exception_to_proto_error(std::exception const& e, qn::Error& error);
void cf_exception_ptr_to_proto_error(std::exception_ptr const& p, qn::Error& error);
