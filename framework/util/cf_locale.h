#pragma once

#include <string>

// Returns the user's locale name (LC_ALL, LC_CTYPE or LANG, first non-empty; "C" when none)
// and sets all three to "C" in the environment.
std::string cf_setup_default_locale();
