#include "framework/error/cf_proto_error_impl.h"

#include "framework/text/cf_enum_text.h"

namespace qn {

char const* cf_proto_error_impl_t::name() const noexcept { return "qn.Error"; }

std::string cf_proto_error_impl_t::message(int value) const {
  if (ErrorCode_IsValid(value)) return cf_enum_value_text(ErrorCode_descriptor()->FindValueByNumber(value));
  return "qn.Error " + std::to_string(value);
}

boost::system::error_category const& cf_proto_category() {
  static cf_proto_error_impl_t const instance;
  return instance;
}

boost::system::error_code make_error_code(int value) { return boost::system::error_code(value, cf_proto_category()); }

boost::system::error_condition make_error_condition(int value) {
  return boost::system::error_condition(value, cf_proto_category());
}

}  // namespace qn
