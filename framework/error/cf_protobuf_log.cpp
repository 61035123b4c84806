#include "framework/error/cf_protobuf_log.h"

#include "framework/log/cf_log.h"

namespace {

// Parsing a big message warns every time; the warning says nothing useful here.
char const g_large_message[] = "Reading dangerously large protocol message.";

}  // namespace

void cf_install_protobuf_log_handler() { google::protobuf::SetLogHandler(&cf_protobuf_log_handler); }

void cf_protobuf_log_handler(google::protobuf::LogLevel level, char const*, int, std::string const& message) {
  int our_level = CF_LOG_ERROR;
  switch (level) {
    case google::protobuf::LOGLEVEL_INFO:
      our_level = CF_LOG_INFO;
      break;
    case google::protobuf::LOGLEVEL_WARNING:
      if (message.compare(0, sizeof g_large_message - 1, g_large_message) == 0) return;
      our_level = CF_LOG_WARNING;
      break;
    default:
      break;
  }
  if (cf_log_threshold <= our_level) cf_log(our_level, message);
}
