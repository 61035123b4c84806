#include "threats/sm_report_compare.h"

namespace {

#define QN_SAME_OPTIONAL(field)                                     \
  do {                                                              \
    if (a.has_##field() != b.has_##field()) return false;           \
    if (a.has_##field() && !(a.field() == b.field())) return false; \
  } while (false)

bool equal(qn::ScanReport const& a, qn::ScanReport const& b) {
  QN_SAME_OPTIONAL(object);
  QN_SAME_OPTIONAL(size);

  if (a.packer_size() != b.packer_size()) return false;
  for (int i = 0; i < a.packer_size(); ++i)
    if (a.packer(i) != b.packer(i)) return false;

  if (a.has_archive() != b.has_archive()) return false;
  if (a.has_archive() && (a.archive().type() != b.archive().type() || a.archive().name() != b.archive().name()))
    return false;

  if (a.virus_size() != b.virus_size()) return false;
  for (int i = 0; i < a.virus_size(); ++i)
    if (a.virus(i).type() != b.virus(i).type() || a.virus(i).name() != b.virus(i).name()) return false;

  QN_SAME_OPTIONAL(error);
  QN_SAME_OPTIONAL(cured);
  QN_SAME_OPTIONAL(cured_by_deletion);
  QN_SAME_OPTIONAL(boot);
  QN_SAME_OPTIONAL(heuristic_analysis);
  QN_SAME_OPTIONAL(scan_timeout_ms);
  QN_SAME_OPTIONAL(compression_ratio);
  QN_SAME_OPTIONAL(core_fingerprint);
  QN_SAME_OPTIONAL(new_path);

  if (a.item_size() != b.item_size()) return false;
  for (int i = 0; i < a.item_size(); ++i)
    if (!equal(a.item(i), b.item(i))) return false;
  return true;
}

#undef QN_SAME_OPTIONAL

}  // namespace

bool sm_reports_equal(qn::ScanReport const& a, qn::ScanReport const& b) { return equal(a, b); }
