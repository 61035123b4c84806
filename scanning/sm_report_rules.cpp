#include "scanning/sm_report_rules.h"

#include <locale>

#include "framework/text/cf_enum_text.h"

namespace {

// Stops the walk when `visit` returns true.
template <class Visit>
bool walk(qn::ScanReport const& report, Visit const& visit) {
  if (visit(report)) return true;
  for (qn::ScanReport const& item : report.item())
    if (walk(item, visit)) return true;
  return false;
}

std::optional<qn::ScanError> first_error(qn::ScanReport const& report, bool tolerated) {
  std::optional<qn::ScanError> found;
  walk(report, [&](qn::ScanReport const& node) {
    if (node.has_error() && sm_is_tolerated_error(node.error()) == tolerated) found = node.error();
    return found.has_value();
  });
  return found;
}

std::string enum_text(google::protobuf::EnumDescriptor const* type, int number) {
  google::protobuf::EnumValueDescriptor const* value = type->FindValueByNumber(number);
  return value ? cf_enum_value_text(value) : std::to_string(number);
}

char const* description_text(int type) {
  switch (type) {
    case qn::SE_KNOWN_VIRUS:
      return "infected with";
    case qn::SE_VIRUS_MODIFICATION:
      return "infected with modification of";
    case qn::SE_UNKNOWN_VIRUS:
      return "probably infected with";
    case qn::SE_ADWARE:
      return "an adware program";
    case qn::SE_DIALER:
      return "a dialer program";
    case qn::SE_JOKE:
      return "a joke program";
    case qn::SE_RISKWARE:
      return "a riskware program";
    case qn::SE_HACKTOOL:
      return "a hacktool program";
  }
  return "?";
}

void describe(qn::ScanReport const& report, std::string const& outer, std::vector<std::string>& lines) {
  std::string const path = outer.empty() ? report.object() : outer + "//" + report.object();
  for (qn::Virus const& virus : report.virus())
    lines.push_back(sm_quoted(path) + " - " + description_text(virus.type()) + " " + virus.name());
  for (qn::ScanReport const& item : report.item()) describe(item, path, lines);
}

}  // namespace

bool sm_has_threats(qn::ScanReport const& report) {
  return walk(report, [](qn::ScanReport const& node) { return node.virus_size() > 0; });
}

bool sm_has_scan_error(qn::ScanReport const& report) { return first_error(report, false).has_value(); }

bool sm_has_tolerated_error(qn::ScanReport const& report) { return first_error(report, true).has_value(); }

bool sm_is_tolerated_error(int error) {
  switch (error) {
    case qn::SE_PACKER_LEVEL_LIMIT:
    case qn::SE_ARCHIVE_LEVEL_LIMIT:
    case qn::SE_MAIL_LEVEL_LIMIT:
    case qn::SE_CONTAINER_LEVEL_LIMIT:
    case qn::SE_COMPRESSION_LIMIT:
    case qn::SE_SCAN_TIMEOUT:
      return true;
  }
  return false;
}

std::uint32_t sm_threat_count(qn::ScanReport const& report) {
  std::uint32_t count = 0;
  walk(report, [&](qn::ScanReport const& node) {
    count += node.virus_size();
    return false;
  });
  return count;
}

std::optional<qn::ScanError> sm_first_scan_error(qn::ScanReport const& report) { return first_error(report, false); }

std::optional<qn::ScanError> sm_first_tolerated_error(qn::ScanReport const& report) {
  return first_error(report, true);
}

std::vector<qn::Virus> sm_collect_threats(qn::ScanReport const& report) {
  std::vector<qn::Virus> threats;
  walk(report, [&](qn::ScanReport const& node) {
    threats.insert(threats.end(), node.virus().begin(), node.virus().end());
    return false;
  });
  return threats;
}

std::optional<qn::Virus> sm_worst_threat(qn::ScanReport const& report) {
  std::optional<qn::Virus> worst;
  walk(report, [&](qn::ScanReport const& node) {
    for (qn::Virus const& virus : node.virus())
      if (!worst || sm_threat_severity(virus) > sm_threat_severity(worst)) worst = virus;
    return false;
  });
  return worst;
}

std::int16_t sm_threat_severity(std::optional<qn::Virus> const& threat) {
  static std::int16_t const severity[] = {0, 1000, 900, 10, 500, 400, 300, 200, 100};
  if (!threat || threat->type() < 1 || threat->type() > 8) return 0;
  return severity[threat->type()];
}

std::vector<std::string> sm_threat_descriptions(qn::ScanReport const& report) {
  if (!sm_has_threats(report)) return {sm_report_summary(report)};
  std::vector<std::string> lines;
  describe(report, std::string(), lines);
  if (report.has_archive()) lines.push_back(sm_quoted(report.object()) + " - " + sm_infected_summary(report));
  return lines;
}

std::string sm_report_summary(qn::ScanReport const& report) {
  std::string const head = sm_quoted(report.object()) + " - ";
  std::optional<qn::Virus> const worst = sm_worst_threat(report);
  if (worst) return head + (report.has_archive() ? sm_infected_summary(report) : worst->name());
  std::optional<qn::ScanError> error = sm_first_scan_error(report);
  if (!error) error = sm_first_tolerated_error(report);
  return head + (error ? sm_scan_error_text(*error) : std::string("ok"));
}

std::string sm_infected_summary(qn::ScanReport const& report) {
  return "infected " + sm_lower_text(sm_archive_type_text(report.archive().type())) +
         " file, malicious objects: " + std::to_string(sm_threat_count(report));
}

std::string sm_virus_type_text(int type) { return enum_text(qn::VirusType_descriptor(), type); }

std::string sm_scan_error_text(int error) { return enum_text(qn::ScanError_descriptor(), error); }

std::string sm_archive_type_text(int type) { return enum_text(qn::ArchiveType_descriptor(), type); }

std::string sm_lower_text(std::string text) {
  std::use_facet<std::ctype<char>>(std::locale()).tolower(&text[0], &text[0] + text.size());
  return text;
}

char const* sm_verdict_name(std::uint32_t verdict) { return verdict == 2 ? "access rejected" : "access allowed"; }

std::string sm_quoted(std::string const& text) {
  std::string out(1, '"');
  for (char c : text) {
    if (c == '"' || c == '&') out += '&';
    out += c;
  }
  return out + '"';
}
