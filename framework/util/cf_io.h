#pragma once

#include <cstddef>
#include <string>

#include <boost/system/error_code.hpp>

// Whole-buffer descriptor I/O. The throwing forms raise boost::system::system_error
// (cf_read_all: std::runtime_error "unexpected eof" on a short file).
void cf_write_all(int fd, void const* data, std::size_t size);
// Stores a failure in ec; leaves ec untouched on success.
void cf_write_all(int fd, void const* data, std::size_t size, boost::system::error_code& ec);

void cf_read_all(int fd, void* data, std::size_t size);
// End of file is EC_UNEXPECTED_EOF of "qn.Error"; ec untouched on success.
void cf_read_all(int fd, void* data, std::size_t size, boost::system::error_code& ec);

// The whole file; the size comes from fstat, so a file that claims size 0 reads as empty.
std::string cf_read_file(std::string const& path);
