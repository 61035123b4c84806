#pragma once

#include <boost/system/error_code.hpp>
#include <stdexcept>
#include <string>

// A failure with an error code of any category.
class cf_exception_t : public std::runtime_error {
 public:
  cf_exception_t(boost::system::error_code const& code, std::string const& what);

  boost::system::error_code const& code() const noexcept { return code_; }

 private:
  boost::system::error_code code_;
};
