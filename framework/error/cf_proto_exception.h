#pragma once

#include <stdexcept>
#include <string>

#include "error.pb.h"

// A failure named by a qn::ErrorCode.
class cf_proto_exception_t : public std::runtime_error {
 public:
  cf_proto_exception_t(qn::ErrorCode code, std::string const& what);
  // what is the message's `what` when present, else the code's text.
  explicit cf_proto_exception_t(qn::Error const& error);

  qn::ErrorCode code() const noexcept { return code_; }

 private:
  qn::ErrorCode code_;
};
