#include "tools/fcheck_stub/stub_threat_keeper.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "tools/fcheck_stub/stub_text.h"

namespace {

qn::ErrorCode error_code_of(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return qn::EC_NO_SUCH_ENTRY;
    case EACCES:
    case EPERM:
      return qn::EC_PERMISSION_DENIED;
    case EROFS:
      return qn::EC_READ_ONLY_FS;
    default:
      return qn::EC_IO_ERROR;
  }
}

// Operations act on the regular file itself, never on what has taken its place.
qn::ErrorCode check_regular(std::string const& path, std::string& what) {
  struct stat st;
  if (path.find('\0') != std::string::npos) {
    what = "the path holds a NUL byte";
    return qn::EC_NO_SUCH_ENTRY;
  }
  if (::lstat(path.c_str(), &st) != 0) {
    what = std::strerror(errno);
    return error_code_of(errno);
  }
  if (S_ISREG(st.st_mode)) return qn::EC_OK;
  what = "not a regular file";
  return qn::EC_NOT_A_REGULAR_FILE;
}

}  // namespace

std::int64_t stub_threat_keeper_t::moment() const {
  return static_cast<std::int64_t>(std::time(nullptr)) - options.backdate;
}

std::int64_t stub_threat_keeper_t::hold(std::string const& path, std::uint64_t dev, std::uint64_t ino,
                                        qn::ScanReport const& report) {
  std::int64_t const id = next_provisional--;
  provisional[id] = provisional_t{path, dev, ino, report};
  return id;
}

stub_threat_keeper_t::outcome_t stub_threat_keeper_t::sync(std::int64_t threat_id, std::uint32_t origin) {
  outcome_t out;
  auto const found = provisional.find(threat_id);
  if (found == provisional.end()) {
    out.code = qn::EC_NO_SUCH_ENTRY;
    out.what = "no provisional threat " + std::to_string(threat_id);
    return out;
  }
  provisional_t const& p = found->second;
  try {
    out.history_id =
        db.record_detection(p.path, p.dev, p.ino, p.report, origin, moment(), options.reuse_threats, out.threat_id);
    provisional.erase(found);
  } catch (std::runtime_error const& e) {
    // Kept, so that the sync can be asked again.
    out.code = qn::EC_DB_COMMON_ERROR;
    out.what = e.what();
  }
  return out;
}

stub_threat_keeper_t::outcome_t stub_threat_keeper_t::apply(std::int64_t threat_id, qn::ThreatOp op,
                                                            std::uint32_t origin) {
  outcome_t out;
  out.threat_id = threat_id;
  if (threat_id < 0) {
    bool const known = provisional.count(threat_id) != 0;
    if (known && op == qn::THREAT_OP_IGNORE) {
      provisional.erase(threat_id);
    } else if (known) {
      out.code = qn::EC_INVALID_OPERATION;
      out.what = "provisional threat " + std::to_string(threat_id) + " is not recorded";
    } else {
      out.code = qn::EC_NO_SUCH_ENTRY;
      out.what = "no provisional threat " + std::to_string(threat_id);
    }
    return out;
  }
  try {
    std::optional<stub_threat_db_t::threat_t> const threat = db.find(threat_id);
    if (!threat) {
      out.code = qn::EC_NO_SUCH_ENTRY;
      out.what = "no threat " + std::to_string(threat_id);
      return out;
    }
    if (op == qn::THREAT_OP_IGNORE || op == qn::THREAT_OP_REPORT) return out;
    std::uint32_t event = 0;
    out.code = act(threat_id, threat->path, op, event, out.what);
    if (out.code == qn::EC_OK) out.history_id = db.record_neutralized(threat_id, event, origin, moment());
  } catch (std::runtime_error const& e) {
    out.code = qn::EC_DB_COMMON_ERROR;
    out.what = e.what();
  }
  return out;
}

qn::ErrorCode stub_threat_keeper_t::act(std::int64_t threat_id, std::string const& path, qn::ThreatOp op,
                                        std::uint32_t& event, std::string& what) {
  std::string const name = "threat " + std::to_string(threat_id) + ": ";
  qn::ErrorCode code = check_regular(path, what);
  if (code != qn::EC_OK) return code;
  if (op == qn::THREAT_OP_CURE || op == qn::THREAT_OP_CURE_OR_QUARANTINE || op == qn::THREAT_OP_CURE_OR_DELETE) {
    code = scanner.cure(path, what);
    if (code == qn::EC_OK) {
      event = event_cured;
      std::cout << name << "cured " << stub_text_t::quote(path) << std::endl;
      return code;
    }
    if (code != qn::EC_CAN_NOT_BE_CURED || op == qn::THREAT_OP_CURE) return code;
    what.clear();
    op = op == qn::THREAT_OP_CURE_OR_QUARANTINE ? qn::THREAT_OP_QUARANTINE : qn::THREAT_OP_DELETE;
  }
  if (op == qn::THREAT_OP_QUARANTINE) {
    event = event_quarantined;
    return quarantine(threat_id, path, what);
  }
  if (op != qn::THREAT_OP_DELETE) {
    what = "unknown operation";
    return qn::EC_INVALID_ARGUMENT;
  }
  if (::unlink(path.c_str()) != 0) {
    what = std::strerror(errno);
    return error_code_of(errno);
  }
  event = event_deleted;
  std::cout << name << "deleted " << stub_text_t::quote(path) << std::endl;
  return qn::EC_OK;
}

qn::ErrorCode stub_threat_keeper_t::quarantine(std::int64_t threat_id, std::string const& path, std::string& what) {
  namespace fs = boost::filesystem;
  boost::system::error_code ec;
  fs::create_directories(options.quarantine_dir, ec);
  if (ec) {
    what = "quarantine " + options.quarantine_dir + ": " + ec.message();
    return qn::EC_IO_ERROR;
  }
  std::string const stem = std::to_string(threat_id) + "-" + fs::path(path).filename().string();
  fs::path target = fs::path(options.quarantine_dir) / stem;
  for (int n = 2; fs::exists(fs::symlink_status(target)); ++n)
    target = fs::path(options.quarantine_dir) / (stem + "." + std::to_string(n));
  if (::rename(path.c_str(), target.c_str()) != 0) {
    int error = errno;
    if (error == EXDEV) {
      fs::copy_file(path, target, ec);
      if (!ec && ::unlink(path.c_str()) != 0) {
        error = errno;
        fs::remove(target, ec);
        ec.assign(error, boost::system::system_category());
      }
      error = ec.value();
    }
    if (error != 0) {
      what = std::strerror(error);
      return error_code_of(error);
    }
  }
  std::cout << "threat " << threat_id << ": quarantined " << stub_text_t::quote(path) << " as "
            << stub_text_t::quote(target.string()) << std::endl;
  return qn::EC_OK;
}
