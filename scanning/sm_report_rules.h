#pragma once

// How the daemon reads a scan report: threats, real and tolerated scan errors,
// the worst threat, and the lines and summaries that name the findings in the
// log and in alert files. Every walk is depth first, pre-order.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan_report.pb.h"

bool sm_has_threats(qn::ScanReport const& report);
bool sm_has_scan_error(qn::ScanReport const& report);
bool sm_has_tolerated_error(qn::ScanReport const& report);
// A part of the object left unscanned by a configured limit.
bool sm_is_tolerated_error(int error);
std::uint32_t sm_threat_count(qn::ScanReport const& report);
std::optional<qn::ScanError> sm_first_scan_error(qn::ScanReport const& report);
std::optional<qn::ScanError> sm_first_tolerated_error(qn::ScanReport const& report);
std::vector<qn::Virus> sm_collect_threats(qn::ScanReport const& report);
// The first of the most severe threats.
std::optional<qn::Virus> sm_worst_threat(qn::ScanReport const& report);
std::int16_t sm_threat_severity(std::optional<qn::Virus> const& threat);
std::vector<std::string> sm_threat_descriptions(qn::ScanReport const& report);
std::string sm_report_summary(qn::ScanReport const& report);
std::string sm_infected_summary(qn::ScanReport const& report);

// Display texts; the decimal number for a value outside the enum.
std::string sm_virus_type_text(int type);
std::string sm_scan_error_text(int error);
std::string sm_archive_type_text(int type);
// Lower-cased character by character with the global locale.
std::string sm_lower_text(std::string text);

// "access rejected" for 2, "access allowed" otherwise.
char const* sm_verdict_name(std::uint32_t verdict);

// The text between double quotes, "&" put before every '"' and '&'.
std::string sm_quoted(std::string const& text);
