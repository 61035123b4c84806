#include "service/sm_error.h"

char const* sm_error_impl_t::name() const noexcept { return "sm"; }

std::string sm_error_impl_t::message(int value) const {
  switch (value) {
    case 0:
      return "no error";
    case 1:
      return "failed to serialize";
    case 2:
      return "database error";
    default:
      return "sm error " + std::to_string(value);
  }
}

boost::system::error_category const& sm_category() {
  static sm_error_impl_t const instance;
  return instance;
}

boost::system::error_code sm_make_error_code(int value) { return boost::system::error_code(value, sm_category()); }

boost::system::error_condition sm_make_error_condition(int value) {
  return boost::system::error_condition(value, sm_category());
}
