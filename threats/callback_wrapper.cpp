#include "threats/callback_wrapper.h"

namespace util {

callback_wrapper_t::callback_wrapper_t() : cancelled(std::make_shared<bool>(false)) {}

callback_wrapper_t::~callback_wrapper_t() { *cancelled = true; }

}  // namespace util
