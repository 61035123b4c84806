#include "scanning/sm_report_rules.h"

// Skeleton: filled in with the judgement rules.
bool sm_has_threats(qn::ScanReport const&) { return false; }
bool sm_has_scan_error(qn::ScanReport const&) { return false; }
bool sm_has_tolerated_error(qn::ScanReport const&) { return false; }
bool sm_is_tolerated_error(int) { return false; }
std::uint32_t sm_threat_count(qn::ScanReport const&) { return 0; }
std::optional<qn::ScanError> sm_first_scan_error(qn::ScanReport const&) { return std::nullopt; }
std::optional<qn::ScanError> sm_first_tolerated_error(qn::ScanReport const&) { return std::nullopt; }
std::vector<qn::Virus> sm_collect_threats(qn::ScanReport const&) { return {}; }
std::optional<qn::Virus> sm_worst_threat(qn::ScanReport const&) { return std::nullopt; }
std::int16_t sm_threat_severity(std::optional<qn::Virus> const&) { return 0; }
std::vector<std::string> sm_threat_descriptions(qn::ScanReport const&) { return {}; }
std::string sm_report_summary(qn::ScanReport const&) { return {}; }
std::string sm_infected_summary(qn::ScanReport const&) { return {}; }
std::string sm_virus_type_text(int) { return {}; }
std::string sm_scan_error_text(int) { return {}; }
std::string sm_archive_type_text(int) { return {}; }
char const* sm_verdict_name(std::uint32_t verdict) { return verdict == 2 ? "access rejected" : "access allowed"; }
std::string sm_quoted(std::string const& text) { return text; }
