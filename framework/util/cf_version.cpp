#include "framework/util/cf_version.h"

#include <climits>
#include <stdexcept>
#include <vector>

#include "framework/log/cf_log.h"

namespace {

// Optional sign, then digits only, within int.
bool parse_int(std::string const& s, int& out)
{
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i == s.size())
    return false;
  long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long value = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9')
      return false;
    value = value * 10 + (s[i] - '0');
    if (value > limit)
      return false;
  }
  out = static_cast<int>(negative ? -value : value);
  return true;
}

} // namespace

cf_version_t cf_parse_version(std::string const& text)
{
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type dot = text.find('.', start);
    if (dot == std::string::npos) {
      parts.push_back(text.substr(start));
      break;
    }
    parts.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }

  cf_version_t version;
  if (parts.size() < 2 || !parse_int(parts[0], version.first) || !parse_int(parts[1], version.second))
    throw std::runtime_error("Invalid version format: " + text);
  return version;
}

bool cf_is_compatible_version(std::string const& a, std::string const& b)
{
  try {
    cf_version_t va = cf_parse_version(a);
    cf_version_t vb = cf_parse_version(b);
    return va == vb;
  } catch (std::exception const& e) {
    if (cf_log_threshold <= CF_LOG_DEBUG)
      cf_log(CF_LOG_DEBUG, std::string("Cannot check component compatibility: ") + e.what());
    return true;
  }
}
