#include "tools/fcheck_stub/stub_scanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

char const* const stub_scanner_t::test_file_virus = "Standard-Test-File";

namespace {

// Larger files are not read, as an engine's size limit would skip them.
constexpr off_t max_file_size = off_t(64) << 20;

qn::ScanError scan_error_of(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return qn::SE_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return qn::SE_NO_ACCESS;
    case ENAMETOOLONG:
      return qn::SE_NAME_TOO_LONG;
    case EBUSY:
    case ETXTBSY:
      return qn::SE_FILE_BUSY;
    default:
      return qn::SE_READ_ERROR;
  }
}

qn::ErrorCode error_code_of(qn::ScanError error) {
  switch (error) {
    case qn::SE_FILE_NOT_FOUND:
      return qn::EC_NO_SUCH_ENTRY;
    case qn::SE_NO_ACCESS:
      return qn::EC_PERMISSION_DENIED;
    case qn::SE_FILE_NOT_REGULAR:
      return qn::EC_NOT_A_REGULAR_FILE;
    case qn::SE_NAME_TOO_LONG:
    case qn::SE_PATH_NOT_ABSOLUTE:
      return qn::EC_INVALID_ARGUMENT;
    default:
      return qn::EC_IO_ERROR;
  }
}

bool write_whole(std::string const& path, std::string const& content, std::string& what, int create = O_CREAT) {
  int const fd = ::open(path.c_str(), O_WRONLY | create | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  for (std::size_t done = 0; ok && done < content.size();) {
    ssize_t const n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (!ok) what = std::strerror(errno);
  if (fd >= 0 && ::close(fd) != 0 && ok) {
    what = std::strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace

std::string stub_scanner_t::test_file_signature() {
  // The middle part is kept shifted by one character, so that no source file holds the
  // signature whole.
  std::string middle = "DHB@Q";
  for (char& c : middle) ++c;
  return std::string("X5O!P%@AP[4\\PZX54(P^)7CC)7}$") + middle + "-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
}

bool stub_scanner_t::write_test_file(std::string const& path, std::string& what) {
  return write_whole(path, test_file_signature(), what);
}

bool stub_scanner_t::is_test_file(std::string const& content) {
  // The signature may be followed by white space, up to 128 bytes in all.
  static std::string const signature = test_file_signature();
  if (content.size() > 128 || content.compare(0, signature.size(), signature) != 0) return false;
  return content.find_first_not_of(" \t\r\n\x1a", signature.size()) == std::string::npos;
}

bool stub_scanner_t::has_virus(qn::ScanReport const& report) {
  if (report.virus_size() > 0) return true;
  for (qn::ScanReport const& item : report.item())
    if (has_virus(item)) return true;
  return false;
}

fcstub::Rule const* stub_scanner_t::match(std::string const& content) const {
  for (fcstub::Rule const& rule : options.rules.rule())
    if (content.find(rule.pattern()) != std::string::npos) return &rule;
  return nullptr;
}

bool stub_scanner_t::read_file(std::string const& path, std::string& content, result_t& result, qn::ScanError& error) {
  if (path.empty() || path[0] != '/') {
    error = qn::SE_PATH_NOT_ABSOLUTE;
    return false;
  }
  // A NUL would cut the path short and name another file.
  if (path.find('\0') != std::string::npos) {
    error = qn::SE_FILE_NOT_FOUND;
    return false;
  }
  // Non-blocking, so that a FIFO cannot stall the stand-in.
  int const fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = scan_error_of(errno);
    return false;
  }
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok)
    error = scan_error_of(errno);
  else if (!S_ISREG(st.st_mode))
    error = qn::SE_FILE_NOT_REGULAR;
  else if (st.st_size > max_file_size)
    error = qn::SE_FILE_TOO_LARGE;
  ok = ok && S_ISREG(st.st_mode) && st.st_size <= max_file_size;
  if (ok) {
    result.dev = st.st_dev;
    result.ino = st.st_ino;
    result.report.set_size(static_cast<std::uint64_t>(st.st_size));
    content.clear();
    char buf[65536];
    for (;;) {
      ssize_t const n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || content.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(max_file_size)) {
        ok = n == 0;
        if (!ok) error = n < 0 ? scan_error_of(errno) : qn::SE_FILE_TOO_LARGE;
        break;
      }
      content.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return ok;
}

stub_scanner_t::result_t stub_scanner_t::scan(std::string const& path, std::uint32_t scan_timeout_ms) const {
  result_t result;
  if (options.fail_scans != qn::EC_OK) {
    result.error = options.fail_scans;
    return result;
  }
  std::string content;
  qn::ScanError error;
  fcstub::Rule const* rule = nullptr;
  if (!read_file(path, content, result, error)) {
    result.report.set_error(error);
  } else {
    rule = match(content);
    if (rule && rule->has_error()) {
      result.error = rule->error();
    } else if (rule && rule->has_report()) {
      std::uint64_t const size = result.report.size();
      result.report = rule->report();
      if (!result.report.has_size()) result.report.set_size(size);
    } else if (is_test_file(content)) {
      qn::Virus* virus = result.report.add_virus();
      virus->set_type(qn::SE_KNOWN_VIRUS);
      virus->set_name(test_file_virus);
    }
  }
  std::uint32_t const rule_delay = rule ? rule->delay_ms() : 0;
  if (scan_timeout_ms != 0 && rule_delay > scan_timeout_ms) {
    // The engine gives up when the proxy's timeout expires.
    std::uint64_t const size = result.report.size();
    result.error = qn::EC_OK;
    result.report.Clear();
    result.report.set_size(size);
    result.report.set_error(qn::SE_SCAN_TIMEOUT);
    result.delay_ms += scan_timeout_ms;
  } else {
    result.delay_ms += rule_delay;
  }
  result.report.set_object(path);
  result.infected = result.error == qn::EC_OK && has_virus(result.report);
  if (result.error != qn::EC_OK) result.report.Clear();
  return result;
}

qn::ErrorCode stub_scanner_t::cure(std::string const& path, std::string& what) const {
  std::string content;
  result_t ignored;
  qn::ScanError error;
  if (!read_file(path, content, ignored, error)) {
    what = qn::ScanError_Name(error);
    return error_code_of(error);
  }
  fcstub::Rule const* rule = match(content);
  if (!rule || !rule->curable()) {
    bool const infected = rule && rule->has_report() ? has_virus(rule->report()) : is_test_file(content);
    if (!infected) return qn::EC_OK;
    what = rule && rule->has_report() ? "the rule's threat is not curable" : "the test file cannot be cured";
    return qn::EC_CAN_NOT_BE_CURED;
  }
  std::string cured;
  for (std::size_t at = 0;;) {
    std::size_t const found = content.find(rule->pattern(), at);
    cured.append(content, at, found == std::string::npos ? std::string::npos : found - at);
    if (found == std::string::npos) break;
    at = found + rule->pattern().size();
  }
  // The file is changed in place, as a cure keeps its identity.
  return write_whole(path, cured, what, 0) ? qn::EC_OK : qn::EC_IO_ERROR;
}
