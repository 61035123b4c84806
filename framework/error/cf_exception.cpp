#include "framework/error/cf_exception.h"

cf_exception_t::cf_exception_t(boost::system::error_code const& code, std::string const& what)
    : std::runtime_error(what), code_(code) {}
