#include "framework/error/cf_proto_exception.h"

#include "framework/error/cf_error_conversions.h"

cf_proto_exception_t::cf_proto_exception_t(qn::ErrorCode code, std::string const& what)
    : std::runtime_error(what), code_(code) {}

cf_proto_exception_t::cf_proto_exception_t(qn::Error const& error)
    : std::runtime_error(cf_proto_error_to_text(error)), code_(error.code()) {}
