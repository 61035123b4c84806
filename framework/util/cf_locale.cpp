#include "framework/util/cf_locale.h"

#include <cstdlib>

#include "framework/log/cf_log.h"

std::string cf_setup_default_locale() {
  std::string result;
  for (char const* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    char const* value = std::getenv(name);
    if (value && *value) {
      result = value;
      break;
    }
  }
  if (result.empty()) {
    result = "C";
    if (cf_log_threshold <= CF_LOG_WARNING)
      cf_log(CF_LOG_WARNING,
             "Unable to get default locale: LC_ALL, LC_CTYPE and LANG variables are not set, assuming \"C\"");
  }
  for (char const* name : {"LC_ALL", "LC_CTYPE", "LANG"}) ::setenv(name, "C", 1);
  return result;
}
