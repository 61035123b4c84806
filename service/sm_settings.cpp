#include "service/sm_settings.h"

#include <exception>
#include <iomanip>
#include <memory>
#include <sstream>

#include <boost/filesystem/path.hpp>

#include "error.pb.h"
#include "framework/error/cf_error_conversions.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "framework/log/cf_log_factory.h"
#include "framework/text/lex_name.h"

namespace {

[[noreturn]] void refuse(char const* prefix, std::string const& value) {
  if (cf_log_threshold <= CF_LOG_ERROR) {
    std::ostringstream text;
    text << prefix << std::quoted(value);
    cf_log(CF_LOG_ERROR, text.str());
  }
  throw qn::EC_BAD_CONFIG;
}

std::vector<std::string> checked_relative_paths(qn::StringList const& list, char const* prefix) {
  std::vector<std::string> paths(list.item().begin(), list.item().end());
  for (std::string const& path : paths)
    if (path.empty() || path[0] == '/') refuse(prefix, path);
  return paths;
}

}  // namespace

sm_settings_t::sm_settings_t() = default;

void sm_settings_t::apply(std::uint32_t new_revision, qn::SMBGardixConfig const& settings, bool new_suspended) {
  config.CopyFrom(settings);
  suspended = new_suspended;
  cf_log_threshold = cf_log_level_from_proto(config.log_level());
  try {
    cf_log_t::callback_t additional_log;
    cf_log_t::callback_t additional_tagged_log;
    std::shared_ptr<cf_log_t> sink = cf_log_factory(config.actual_log(), additional_log, additional_tagged_log);
    // AUTO gives no sink: the one in place stays, and before any exists the
    // console takes over so that the held-back lines are not kept forever.
    if (!sink && !cf_is_log_set()) sink = cf_make_console_log();
    if (sink) cf_set_log(sink);
  } catch (std::exception const& e) {
    if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, cf_exception_to_text(e));
    throw qn::EC_BAD_CONFIG;
  }
  for (qn::SMBShareConfig const& item : config.share().item()) shares[lex_normalize_name(item.tag())].CopyFrom(item);
  revision = new_revision;
}

std::uint32_t sm_settings_t::action_delay() const { return config.action_delay(); }

std::uint32_t sm_settings_t::max_cache_size() const { return config.max_cache_size(); }

std::uint32_t sm_settings_t::config_revision() const { return revision; }

template <class Read>
decltype(auto) sm_settings_t::share_value(std::string const& tag, Read read) const {
  auto const found = shares.find(tag);
  if (found != shares.end()) return read(found->second);
  return read(config);
}

bool sm_settings_t::alert_files(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.alert_files(); });
}

qn::SMBThreatAction sm_settings_t::on_known_virus(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_known_virus(); });
}

qn::SMBThreatAction sm_settings_t::on_incurable(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_incurable(); });
}

qn::SMBThreatAction sm_settings_t::on_suspicious(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_suspicious(); });
}

qn::SMBThreatAction sm_settings_t::on_adware(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_adware(); });
}

qn::SMBThreatAction sm_settings_t::on_dialers(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_dialers(); });
}

qn::SMBThreatAction sm_settings_t::on_jokes(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_jokes(); });
}

qn::SMBThreatAction sm_settings_t::on_riskware(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_riskware(); });
}

qn::SMBThreatAction sm_settings_t::on_hacktools(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.on_hacktools(); });
}

bool sm_settings_t::block_on_error(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.block_on_error(); });
}

std::uint32_t sm_settings_t::scan_timeout(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.scan_timeout(); });
}

bool sm_settings_t::heuristic_analysis(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.heuristic_analysis(); });
}

std::uint32_t sm_settings_t::packer_max_level(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.packer_max_level(); });
}

std::uint32_t sm_settings_t::archive_max_level(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.archive_max_level(); });
}

std::uint32_t sm_settings_t::mail_max_level(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.mail_max_level(); });
}

std::uint32_t sm_settings_t::container_max_level(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.container_max_level(); });
}

std::uint32_t sm_settings_t::max_compression_ratio(std::string const& tag) const {
  return share_value(tag, [](auto const& s) { return s.max_compression_ratio(); });
}

std::vector<std::string> sm_settings_t::excluded_paths(std::string const& tag) const {
  qn::StringList const& list =
      share_value(tag, [](auto const& s) -> qn::StringList const& { return s.excluded_path(); });
  return checked_relative_paths(list, "Bad excluded path: ");
}

std::vector<std::string> sm_settings_t::included_paths(std::string const& tag) const {
  qn::StringList const& list =
      share_value(tag, [](auto const& s) -> qn::StringList const& { return s.included_path(); });
  return checked_relative_paths(list, "Bad included path: ");
}

std::string sm_settings_t::smb_socket_path() const {
  std::string path = config.smb_socket_path();
  if (path.empty() || boost::filesystem::path(path).has_root_directory()) refuse("Bad SmbSocketPath: ", path);
  return path;
}

std::string sm_settings_t::samba_chroot_dir() const {
  std::string path = config.samba_chroot_dir();
  if (path.empty()) path = "/";
  if (!boost::filesystem::path(path).has_root_directory()) refuse("Bad SambaChrootDir: ", path);
  return path;
}
