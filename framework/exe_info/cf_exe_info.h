#pragma once

#include <iosfwd>
#include <string>

#include "application.pb.h"

// Describes the executable named by argv[0]; argc below 1 throws std::runtime_error "Unknown exe path".
qn::AppExeInfo cf_make_app_exe_info(char const* version, int argc, char const* const* argv);

// Describes the file at path (symbolic links followed): times, size, MD5 and owner.
qn::AppExeInfo cf_fill_app_exe_info(char const* version, std::string const& path);

// The message as compact JSON; an empty object when it cannot be converted.
void cf_print_app_exe_info(std::ostream& out, qn::AppExeInfo const& info);

// Raw digests (16 and 32 bytes). Failures throw cf_proto_exception_t with the mapped code.
std::string cf_file_md5(std::string const& path);
std::string cf_file_sha256(std::string const& path);

// First 8 characters of the unpadded Base64 of the first 8 bytes of HMAC-SHA256(key, message).
std::string cf_compute_password(std::string const& key, std::string const& message);
