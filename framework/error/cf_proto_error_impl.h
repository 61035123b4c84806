#pragma once

// qn::ErrorCode as the error category "qn.Error": a value converts implicitly
// to a boost::system::error_code of that category.

#include <boost/system/error_code.hpp>
#include <string>

#include "error.pb.h"

namespace boost {
namespace system {
template <>
struct is_error_code_enum<qn::ErrorCode> {
  static const bool value = true;
};
}  // namespace system
}  // namespace boost

namespace qn {

class cf_proto_error_impl_t final : public boost::system::error_category {
 public:
  using boost::system::error_category::message;

  char const* name() const noexcept override;
  // The value's text; "qn.Error " and the number for a value the enum lacks.
  std::string message(int value) const override;
};

boost::system::error_category const& cf_proto_category();

boost::system::error_code make_error_code(int value);
boost::system::error_condition make_error_condition(int value);

}  // namespace qn
