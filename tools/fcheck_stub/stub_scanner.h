#pragma once

// The stand-in's scan engine: the rules first, then the standard anti-malware test file; any
// other readable file is clean.

#include <cstdint>
#include <string>

#include "error.pb.h"
#include "scan_report.pb.h"
#include "stub_rules.pb.h"
#include "tools/fcheck_stub/stub_options.h"

class stub_scanner_t {
 public:
  struct result_t {
    qn::ErrorCode error = qn::EC_OK;  // not EC_OK: the scan failed and there is no report
    qn::ScanReport report;
    std::uint32_t delay_ms = 0;  // the rule's: the file is read and judged, the answer waits
    bool infected = false;       // a virus somewhere in the report
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
  };

  static char const* const test_file_virus;  // "Standard-Test-File"

  explicit stub_scanner_t(stub_options_t const& options) : options(options) {}

  // scan_timeout_ms: the proxy's limit, 0 for none.
  result_t scan(std::string const& path, std::uint32_t scan_timeout_ms) const;
  // Cures the file in place: EC_OK when it holds nothing to cure any more, EC_CAN_NOT_BE_CURED
  // for the test file and for rules that are not curable; `what` tells why it failed.
  qn::ErrorCode cure(std::string const& path, std::string& what) const;

  // The 68 bytes of the test file, put together from its parts.
  static std::string test_file_signature();
  static bool write_test_file(std::string const& path, std::string& what);

 private:
  // The whole file; false with the scan error when it cannot be read.
  static bool read_file(std::string const& path, std::string& content, result_t& result, qn::ScanError& error);
  static bool is_test_file(std::string const& content);
  static bool has_virus(qn::ScanReport const& report);
  fcstub::Rule const* match(std::string const& content) const;

  stub_options_t const& options;
};
