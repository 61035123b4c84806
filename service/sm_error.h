#pragma once

// The daemon's own error category "sm".

#include <string>

#include <boost/system/error_code.hpp>

class sm_error_impl_t : public boost::system::error_category {
 public:
  char const* name() const noexcept override;
  std::string message(int value) const override;
};

boost::system::error_category const& sm_category();
boost::system::error_code sm_make_error_code(int value);
boost::system::error_condition sm_make_error_condition(int value);
