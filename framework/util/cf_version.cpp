#include "framework/util/cf_version.h"

#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <stdexcept>
#include <vector>

#include "framework/log/cf_log.h"

cf_version_t cf_parse_version(std::string const& text) {
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
  if (parts.size() < 2 || !boost::conversion::try_lexical_convert(parts[0], version.first) ||
      !boost::conversion::try_lexical_convert(parts[1], version.second))
    throw std::runtime_error("Invalid version format: " + text);
  return version;
}

bool cf_is_compatible_version(std::string const& a, std::string const& b) {
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
