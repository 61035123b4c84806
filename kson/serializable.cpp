#include "kson/serializable.h"

namespace kson {

serializable_t::~serializable_t() = default;

}  // namespace kson
