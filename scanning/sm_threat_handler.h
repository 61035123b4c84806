#pragma once

// Turns a finished scan into a verdict and the daemon's side effects: log
// lines, the alert file, the cache entry, and the detection's record or
// release; later reacts to the file checker's threat notifications.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "action.pb.h"
#include "remote_user.pb.h"
#include "scan_report.pb.h"
#include "service/sm_clock.h"
#include "service/sm_path_stamp.h"
#include "smb_gardix_config.pb.h"
#include "threats/sm_threat.h"

class sm_app_t;

class sm_threat_handler_t {
 public:
  // One scan in flight, made by the VFS-module connection.
  struct scan_info_t {
    qn::ScanReport report;  // empty until the file checker answers
    std::uint64_t dev = 0;  // as the VFS module gave them
    std::uint64_t ino = 0;
    std::shared_ptr<qn::RemoteUser> last_writer;  // may be empty
    std::string tag;
    sm_clock_t::steady::time_point start;
    std::string path;              // the canonical path sent for scanning
    sm_path_stamp_t sent;          // the path as it was when the scan was sent
    bool stamp_untrusted = false;  // `sent` cannot be trusted: an allowed answer is not cached
  };

  explicit sm_threat_handler_t(sm_app_t& app);

  sm_threat_handler_t(sm_threat_handler_t const&) = delete;
  sm_threat_handler_t& operator=(sm_threat_handler_t const&) = delete;

  // The verdict: 1 access allowed, 2 access rejected.
  std::uint32_t process_scan_info(scan_info_t& info, std::int64_t threat_id);
  void threat_received(std::shared_ptr<sm_threat_t> const& threat);

  // Refills every action row from the settings.
  void init();
  void load_actions(std::string const& tag);
  // Only for reports that hold a threat.
  qn::SMBThreatAction action_for(qn::ScanReport const& report, std::string const& tag);
  qn::SMBThreatAction action_for(std::shared_ptr<sm_threat_t> const& threat);
  std::uint32_t default_verdict(std::string const& tag) const;
  std::pair<bool, qn::ThreatOp> threat_op_by_action(std::shared_ptr<sm_threat_t> const& threat);
  // The delayed operation, if any, with archives and mail taken into account.
  std::pair<bool, qn::ThreatOp> threat_op(std::shared_ptr<sm_threat_t> const& threat);

  // "1 minute 30 seconds"; "0 seconds" under a second.
  static std::string delay_text(std::uint32_t delay_ms);

  static constexpr char const* alert_suffix = ".quarn.alert.txt";

 private:
  std::uint32_t judge_clean(scan_info_t const& info, std::int64_t threat_id);
  // Whether the cache keeps results and the file judged, of these numbers, is the one the module asked
  // about, its path naming it when the scan was sent with nothing on it changed since; only such a file
  // is cached as allowed.
  bool may_cache_as_allowed(scan_info_t const& info, std::uint64_t dev, std::uint64_t ino) const;
  // Lets the file checker drop a provisional (negative) threat.
  void release(std::string const& tag, std::int64_t threat_id);
  // Only beside the file asked about, inside the chroot and never through a link.
  void write_alert_file(scan_info_t const& info);

  sm_app_t& app;
  // By share tag, the action numbers indexed by virus type.
  std::map<std::string, std::vector<std::uint32_t>> actions;
};
