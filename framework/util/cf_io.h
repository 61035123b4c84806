#pragma once

#include <cstddef>
#include <string>

#include <boost/system/error_code.hpp>

// Whole-buffer descriptor I/O; interrupted calls are repeated, and an empty buffer still makes one call.
// The throwing forms raise boost::system::system_error ("write" or "read"); a write that moves nothing is
// EC_UNEXPECTED_ERROR of "qn.Error", a read that hits end of file std::runtime_error "unexpected eof".
void cf_write_all(int fd, void const* data, std::size_t size);
// Stores a failure in ec; leaves ec untouched on success.
void cf_write_all(int fd, void const* data, std::size_t size, boost::system::error_code& ec);

void cf_read_all(int fd, void* data, std::size_t size);
// End of file is EC_UNEXPECTED_EOF of "qn.Error"; ec untouched on success.
void cf_read_all(int fd, void* data, std::size_t size, boost::system::error_code& ec);

// The whole file; the size comes from fstat, so a file that claims size 0 reads as empty.
std::string cf_read_file(std::string const& path);
