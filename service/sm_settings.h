#pragma once

// The daemon's current settings as ConfigD last sent them, with per-share
// lookup and the path checks.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "smb_gardix_config.pb.h"

class sm_settings_t {
 public:
  sm_settings_t();

  // Takes the settings, installs the log threshold and sink, then files the
  // share entries. Throws the bare value EC_BAD_CONFIG when the sink cannot be
  // built or installed.
  void apply(std::uint32_t revision, qn::SMBGardixConfig const& settings, bool suspended);

  std::uint32_t action_delay() const;
  std::uint32_t max_cache_size() const;
  std::uint32_t config_revision() const;

  // Per share: the share's entry whenever it has one (unset fields give the
  // schema default), else the global value. The tag is looked up unchanged.
  bool alert_files(std::string const& tag) const;
  qn::SMBThreatAction on_known_virus(std::string const& tag) const;
  qn::SMBThreatAction on_incurable(std::string const& tag) const;
  qn::SMBThreatAction on_suspicious(std::string const& tag) const;
  qn::SMBThreatAction on_adware(std::string const& tag) const;
  qn::SMBThreatAction on_dialers(std::string const& tag) const;
  qn::SMBThreatAction on_jokes(std::string const& tag) const;
  qn::SMBThreatAction on_riskware(std::string const& tag) const;
  qn::SMBThreatAction on_hacktools(std::string const& tag) const;
  bool block_on_error(std::string const& tag) const;
  std::uint32_t scan_timeout(std::string const& tag) const;
  bool heuristic_analysis(std::string const& tag) const;
  std::uint32_t packer_max_level(std::string const& tag) const;
  std::uint32_t archive_max_level(std::string const& tag) const;
  std::uint32_t mail_max_level(std::string const& tag) const;
  std::uint32_t container_max_level(std::string const& tag) const;
  std::uint32_t max_compression_ratio(std::string const& tag) const;

  // Checked at every call; a bad value is logged at Error and throws the bare
  // value EC_BAD_CONFIG.
  std::vector<std::string> excluded_paths(std::string const& tag) const;
  std::vector<std::string> included_paths(std::string const& tag) const;
  std::string smb_socket_path() const;
  std::string samba_chroot_dir() const;

 private:
  template <class Read>
  decltype(auto) share_value(std::string const& tag, Read read) const;

  qn::SMBGardixConfig config;
  // Keyed by the normalised tag; entries are only ever added or replaced.
  std::map<std::string, qn::SMBShareConfig> shares;
  std::uint32_t revision = 0;

 public:
  // Scanning and the delayed actions run exactly while this is false.
  bool suspended = false;
};
