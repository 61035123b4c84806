#pragma once

#include <string>
#include <utility>

// Major and minor.
using cf_version_t = std::pair<int, int>;

// Parses "major.minor[.anything]"; throws std::runtime_error "Invalid version format: <text>".
cf_version_t cf_parse_version(std::string const& text);

// Equal major and minor. Texts that do not parse are taken as compatible (logged at Debug).
bool cf_is_compatible_version(std::string const& a, std::string const& b);
