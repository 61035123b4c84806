#pragma once

#include <google/protobuf/stubs/logging.h>
#include <string>

// Installs cf_protobuf_log_handler as the protobuf library's log handler.
void cf_install_protobuf_log_handler();

// The library's INFO at Info, WARNING at Warning (but not the large-message
// warning), anything else at Error; only the message text is logged.
void cf_protobuf_log_handler(google::protobuf::LogLevel level, char const* filename, int line,
                             std::string const& message);
