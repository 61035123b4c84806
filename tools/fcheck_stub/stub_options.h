#pragma once

// The stand-in's command line and its rules file.

#include <cstdint>
#include <string>

#include "error.pb.h"
#include "stub_rules.pb.h"

class stub_options_t {
 public:
  // Fills the options from the command line and reads the rules file. False when the program is
  // to end at once with `status`: 0 after --help, 2 after a message and the usage on standard
  // error.
  bool parse(int argc, char* argv[], int& status);

  std::string socket_path;
  std::string db_path;         // defaults to threats.db beside the socket
  std::string quarantine_dir;  // defaults to quarantine/ beside the database
  std::string test_file;       // --make-test-file: write the test file there and exit
  fcstub::Rules rules;
  std::uint32_t scan_delay_ms = 0;
  std::string scan_hook;                 // run with "before PATH" and "after PATH" around each read; empty: none
  std::string exchange_on_read;          // a name beside each scanned file, swapped with it around the read
  qn::ErrorCode fail_scans = qn::EC_OK;  // EC_OK: scans are answered normally
  std::uint32_t close_after = 0;         // 0: never
  std::int64_t backdate = 0;
  bool reuse_threats = false;
  bool full_backlog = false;  // listens with a full backlog and never accepts
  std::string stuck_scans;    // "silent", "wrong-serial" or "half-frame"; empty: scans are answered

 private:
  bool read_rules(std::string const& file, std::string& problem);
};
