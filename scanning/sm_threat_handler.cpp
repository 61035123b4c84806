#include "scanning/sm_threat_handler.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <sstream>
#include <system_error>

#include <boost/filesystem/path.hpp>
#include <boost/system/system_error.hpp>

#include "framework/log/cf_log.h"
#include "framework/util/cf_io.h"
#include "scanning/sm_report_rules.h"
#include "service/sm_app.h"
#include "service/sm_fd.h"
#include "service/sm_path.h"

namespace {

std::string user_text(qn::RemoteUser const& user) {
  std::string text;
  if (!user.user().empty()) {
    if (user.has_domain()) text = user.domain() + "\\";
    text += user.user();
  } else {
    text = "unknown user";
  }
  if (!user.ip().empty()) text += " from " + user.ip();
  return text;
}

// ctime's text without its line feed.
std::string now_text() {
  std::time_t const now = static_cast<std::time_t>(sm_clock_t::seconds_since_epoch());
  char buffer[64];
  std::string text = ::ctime_r(&now, buffer) ? buffer : "";
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string threat_text(qn::Virus const& virus) {
  return virus.name() + " (" + sm_lower_text(sm_virus_type_text(virus.type())) + ")";
}

std::string alert_text(qn::ScanReport const& report) {
  std::string text = "Please note that your file " +
                     sm_quoted(boost::filesystem::path(report.object()).filename().string()) + " has been blocked at " +
                     now_text();
  std::vector<qn::Virus> const threats = sm_collect_threats(report);
  if (threats.size() > 1) {
    text += " because it contains the following threats:\r\n";
    for (std::size_t i = 0; i < threats.size(); ++i) text += (i ? ",\r\n" : "") + threat_text(threats[i]);
    text += ".";
  } else if (!threats.empty()) {
    text += " because it contains the following threat: " + threat_text(threats.front()) + "!";
  }
  return text +
         "\r\n\r\nYou can delete this file.\r\nIt is strongly recommended to do the anti-virus scan of your PC!\r\n";
}

void alert_failed(std::string const& path, std::string const& what) {
  if (cf_log_threshold <= CF_LOG_WARNING) cf_log(CF_LOG_WARNING, "Failed to create " + sm_quoted(path) + ": " + what);
}

// Opens the folder of the absolute `path` one component at a time from "/", never through a
// symbolic link, so that a folder swapped for a link since the scan leads nowhere; only below
// `samba_chroot_dir`. `name` gets the last component; false with `why` set on failure.
bool open_parent(std::string const& path, std::string const& chroot, sm_fd_t& dir, std::string& name,
                 std::string& why) {
  int error = 0;
  std::string const top = sm_real_path(chroot, error);
  if (top.empty()) {
    why = "samba_chroot_dir: " + std::system_category().message(error);
    return false;
  }
  // Strictly below: the chroot directory's own alert file would lie beside it, outside.
  if (path == top || !sm_path_within(top, path) || path.find('\0') != std::string::npos) {
    why = "outside the Samba chroot directory";
    return false;
  }
  dir.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<std::string> parts;
  for (std::size_t at = 0, end; at < path.size(); at = end + 1) {
    end = std::min(path.find('/', at), path.size());
    if (end > at) parts.push_back(path.substr(at, end - at));
  }
  for (std::size_t i = 0; dir.valid() && i < parts.size(); ++i) {
    if (parts[i] == "." || parts[i] == "..") {
      why = "not a canonical path";
      return false;
    }
    if (i + 1 == parts.size()) {
      name = parts[i];
      return true;
    }
    int const next = ::openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat link;
    // A link refused as a link, not as what O_DIRECTORY makes of it.
    if (next < 0 && errno == ENOTDIR && ::fstatat(dir.get(), parts[i].c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(link.st_mode))
      errno = ELOOP;
    int const error = errno;
    dir.reset(next);
    errno = error;
  }
  why = !dir.valid() ? "open: " + std::system_category().message(errno) : "not a file";
  return false;
}

// A report object is a path; an embedded NUL would make stat and the alert
// file name a different, shorter path.
int stat_object(std::string const& object, struct stat& result) {
  if (object.find('\0') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  return ::stat(object.c_str(), &result);
}

}  // namespace

sm_threat_handler_t::sm_threat_handler_t(sm_app_t& app) : app(app) {}

std::uint32_t sm_threat_handler_t::process_scan_info(scan_info_t& info, std::int64_t threat_id) {
  qn::ScanReport const& report = info.report;
  std::optional<qn::Virus> const worst = sm_worst_threat(report);
  if (!worst) return judge_clean(info, threat_id);

  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_threat_handler_t::process_scan_info: \"" + report.object() + "\" is " +
                             sm_lower_text(sm_virus_type_text(worst->type())));
  qn::SMBThreatAction const action = action_for(report, info.tag);
  std::uint32_t const delay = app.settings->action_delay();
  int const level = action == qn::SMB_PASS ? CF_LOG_INFO : CF_LOG_NOTICE;
  if (cf_log_threshold <= level) {
    std::vector<std::string> lines = sm_threat_descriptions(report);
    if (info.last_writer) lines.back() += ", last modified by " + user_text(*info.last_writer);
    for (std::string const& line : lines) cf_log(level, line);
  }
  bool const rejected = action != qn::SMB_PASS && action != qn::SMB_REPORT;
  std::uint32_t const verdict = rejected ? 2 : 1;
  if (cf_log_threshold <= CF_LOG_INFO) {
    std::string line = sm_quoted(report.object()) + ": " + sm_verdict_name(verdict);
    if (action == qn::SMB_CURE || action == qn::SMB_QUARANTINE || action == qn::SMB_DELETE)
      line += ", executing action is delayed for " + delay_text(delay);
    cf_log(CF_LOG_INFO, line);
  }

  struct stat blocked;
  if (stat_object(report.object(), blocked) != 0) {
    int const error = errno;
    if (cf_log_threshold <= CF_LOG_ERROR)
      cf_log(CF_LOG_ERROR,
             "Processing \"" + report.object() + "\" (" + std::system_category().message(error) + "), access rejected");
    release(info.tag, threat_id);
    return 2;
  }
  if (delay >= 1000 && rejected && app.settings->alert_files(info.tag)) write_alert_file(info);
  // Under the numbers of the object judged, which may differ from what the module sent; allowed, only
  // for the file asked about.
  if (rejected || may_cache_as_allowed(info, blocked.st_dev, blocked.st_ino))
    app.file_cache->store_check_result(blocked.st_dev, blocked.st_ino, !rejected, info.start);
  if (threat_id >= 0) return verdict;
  if (action == qn::SMB_PASS) {
    release(info.tag, threat_id);
    return verdict;
  }
  auto threat = std::make_shared<sm_threat_t>();
  threat->threat_id = threat_id;
  threat->path = report.object();
  threat->dev = blocked.st_dev;
  threat->ino = blocked.st_ino;
  threat->report.CopyFrom(report);
  if (info.last_writer) threat->remote_user.CopyFrom(*info.last_writer);
  threat->moment = sm_clock_t::seconds_since_epoch();
  threat->tag = info.tag;
  threat->locked = rejected;
  app.threat_base->sync_new_threat(threat);
  return verdict;
}

std::uint32_t sm_threat_handler_t::judge_clean(scan_info_t const& info, std::int64_t threat_id) {
  std::uint32_t verdict = 1;
  if (sm_has_scan_error(info.report)) {
    verdict = default_verdict(info.tag);
    if (cf_log_threshold <= CF_LOG_WARNING)
      cf_log(CF_LOG_WARNING, sm_report_summary(info.report) + ", " + sm_verdict_name(verdict));
  } else {
    if (cf_log_threshold <= CF_LOG_INFO && sm_has_tolerated_error(info.report))
      cf_log(CF_LOG_INFO, sm_report_summary(info.report) + ", access allowed");
    if (may_cache_as_allowed(info, info.dev, info.ino))
      app.file_cache->store_check_result(info.dev, info.ino, true, info.start);
  }
  release(info.tag, threat_id);
  return verdict;
}

bool sm_threat_handler_t::may_cache_as_allowed(scan_info_t const& info, std::uint64_t dev, std::uint64_t ino) const {
  // An untrusted stamp was logged when the scan was sent.
  if (!app.file_cache->enabled() || info.stamp_untrusted) return false;
  // A share user may have swapped the file under the path while it was scanned, and put it back: the
  // answer is then of another file than the one asked about, whose path changed meanwhile.
  bool const asked = info.sent.names(info.dev, info.ino) && dev == info.dev && ino == info.ino;
  if (asked && info.sent.holds(info.path)) return true;
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG,
           "sm_threat_handler_t::process_scan_info: " + sm_quoted(info.path) +
               (asked ? " or a folder above it changed while it was scanned" : " is not the file asked about") +
               " (dev=" + std::to_string(info.dev) + " ino=" + std::to_string(info.ino) +
               "), access allowed is not cached");
  return false;
}

void sm_threat_handler_t::release(std::string const& tag, std::int64_t threat_id) {
  if (threat_id < 0) app.get_proxy_scan(tag)->ignore_threat(threat_id);
}

void sm_threat_handler_t::write_alert_file(scan_info_t const& info) {
  qn::ScanReport const& report = info.report;
  std::string const path = report.object() + alert_suffix;
  // Only beside the file the module asked about, as it was then.
  if (report.object() != info.path) {
    alert_failed(path, "the scanned object is not the file asked about");
    return;
  }
  sm_fd_t dir;
  std::string name, why;
  if (!open_parent(info.path, app.settings->samba_chroot_dir(), dir, name, why)) {
    alert_failed(path, why);
    return;
  }
  struct stat blocked;
  if (::fstatat(dir.get(), name.c_str(), &blocked, AT_SYMLINK_NOFOLLOW) != 0) {
    alert_failed(path, "stat: " + std::system_category().message(errno));
    return;
  }
  if (blocked.st_dev != info.dev || blocked.st_ino != info.ino) {
    alert_failed(path, "the file is not the one asked about");
    return;
  }
  std::string const text = alert_text(report);
  // O_EXCL: an alert file already there is never overwritten, nor a link followed.
  int const fd =
      ::openat(dir.get(), (name + alert_suffix).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    alert_failed(path, "open: " + std::system_category().message(errno));
    return;
  }
  try {
    cf_write_all(fd, text.data(), text.size());
  } catch (boost::system::system_error const& e) {
    ::close(fd);
    alert_failed(path, "write: " + e.code().message());
    return;
  }
  // Best effort: otherwise the file stays the daemon's own, readable by it only. A text file
  // gets no execute or special bits.
  if (::fchown(fd, blocked.st_uid, blocked.st_gid) != 0) {
  }
  if (::fchmod(fd, blocked.st_mode & 0666) != 0) {
  }
  ::close(fd);
}

void sm_threat_handler_t::threat_received(std::shared_ptr<sm_threat_t> const& threat) {
  if (cf_log_threshold <= CF_LOG_DEBUG) {
    std::ostringstream text;
    text << "sm_threat_handler_t: " << *threat << " received, it's" << (threat->neutralized ? "" : " not")
         << " neutralized";
    cf_log(CF_LOG_DEBUG, text.str());
  }
  if (!threat->neutralized) {
    if (threat->origin == qn::APP_SMB_GARDIX && threat->event == 1 && threat->locked)
      app.action_executor->add_threat(threat);
  } else if (!threat->has_paths && app.settings->alert_files(threat->tag)) {
    // Under the same rule as its writing; only a regular file is ours to remove.
    sm_fd_t dir;
    std::string name, why;
    struct stat alert;
    if (open_parent(threat->path.string(), app.settings->samba_chroot_dir(), dir, name, why) &&
        ::fstatat(dir.get(), (name += alert_suffix).c_str(), &alert, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(alert.st_mode))
      ::unlinkat(dir.get(), name.c_str(), 0);
  }
}

void sm_threat_handler_t::init() {
  for (auto& row : actions) load_actions(row.first);
}

void sm_threat_handler_t::load_actions(std::string const& tag) {
  sm_settings_t const& settings = *app.settings;
  std::uint32_t const known = settings.on_known_virus(tag);
  actions[tag] = {0,
                  known,
                  known,
                  static_cast<std::uint32_t>(settings.on_suspicious(tag)),
                  static_cast<std::uint32_t>(settings.on_adware(tag)),
                  static_cast<std::uint32_t>(settings.on_dialers(tag)),
                  static_cast<std::uint32_t>(settings.on_jokes(tag)),
                  static_cast<std::uint32_t>(settings.on_riskware(tag)),
                  static_cast<std::uint32_t>(settings.on_hacktools(tag))};
}

qn::SMBThreatAction sm_threat_handler_t::action_for(qn::ScanReport const& report, std::string const& tag) {
  if (actions.find(tag) == actions.end()) load_actions(tag);
  std::vector<std::uint32_t> const& row = actions[tag];
  std::optional<qn::Virus> const worst = sm_worst_threat(report);
  std::size_t const type = worst ? static_cast<std::size_t>(worst->type()) : 0;
  return static_cast<qn::SMBThreatAction>(type < row.size() ? row[type] : 0);
}

qn::SMBThreatAction sm_threat_handler_t::action_for(std::shared_ptr<sm_threat_t> const& threat) {
  return action_for(threat->report, threat->tag);
}

std::uint32_t sm_threat_handler_t::default_verdict(std::string const& tag) const {
  return app.settings->block_on_error(tag) ? 2 : 1;
}

std::pair<bool, qn::ThreatOp> sm_threat_handler_t::threat_op_by_action(std::shared_ptr<sm_threat_t> const& threat) {
  std::pair<bool, qn::ThreatOp> const none(false, qn::THREAT_OP_CURE);
  if (!sm_has_threats(threat->report)) return none;
  switch (action_for(threat)) {
    case qn::SMB_QUARANTINE:
      return {true, qn::THREAT_OP_QUARANTINE};
    case qn::SMB_DELETE:
      return {true, qn::THREAT_OP_DELETE};
    case qn::SMB_CURE:
      switch (app.settings->on_incurable(threat->tag)) {
        case qn::SMB_QUARANTINE:
          return {true, qn::THREAT_OP_CURE_OR_QUARANTINE};
        case qn::SMB_DELETE:
          return {true, qn::THREAT_OP_CURE_OR_DELETE};
        default:
          return {true, qn::THREAT_OP_CURE};
      }
    default:
      return none;
  }
}

std::pair<bool, qn::ThreatOp> sm_threat_handler_t::threat_op(std::shared_ptr<sm_threat_t> const& threat) {
  std::pair<bool, qn::ThreatOp> op = threat_op_by_action(threat);
  qn::ScanReport const& report = threat->report;
  bool const packed =
      report.has_archive() && (report.archive().type() == qn::SE_ARCHIVE || report.archive().type() == qn::SE_MAIL);
  // Members of an archive or a mail cannot be cured or deleted one by one.
  if (op.first && packed) {
    if (op.second == qn::THREAT_OP_CURE)
      op.first = false;
    else
      op.second = qn::THREAT_OP_QUARANTINE;
  }
  return op;
}

std::string sm_threat_handler_t::delay_text(std::uint32_t delay_ms) {
  if (delay_ms < 1000) return "0 seconds";
  std::uint32_t const s = delay_ms / 1000;
  struct part_t {
    std::uint32_t count;
    char const* one;
    char const* many;
  };
  part_t const parts[] = {{s / 604800, " week ", " weeks "},
                          {s % 604800 / 86400, " day ", " days "},
                          {s % 86400 / 3600, " hour ", " hours "},
                          {s % 3600 / 60, " minute ", " minutes "},
                          {s % 60, " second ", " seconds "}};
  std::string text;
  for (part_t const& part : parts)
    if (part.count) text += std::to_string(part.count) + (part.count == 1 ? part.one : part.many);
  text.pop_back();
  return text;
}
