#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <iosfwd>
#include <string>

#include "application.pb.h"
#include "remote_user.pb.h"
#include "scan_report.pb.h"

// One detected threat as the daemon sees it; always held by std::shared_ptr.
class sm_threat_t {
 public:
  std::int64_t threat_id = 0;
  boost::filesystem::path path;
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  qn::ScanReport report;
  // Filled only for a new detection; never loaded from the database.
  qn::RemoteUser remote_user;
  // Seconds since the epoch.
  std::int64_t moment = 0;
  std::string tag;
  bool locked = false;
  bool neutralized = false;
  // Filled only by a load by history id.
  bool has_paths = false;
  std::uint32_t origin = qn::APP_SMB_GARDIX;
  std::uint32_t event = 1;
};

// "threat #<id>: dev=<dev> ino=<ino> path=<quoted path> tag='<tag>'"
std::ostream& operator<<(std::ostream& out, sm_threat_t const& threat);
