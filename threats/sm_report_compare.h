#pragma once

#include "scan_report.pb.h"

// Whether two scan reports describe the same finding: the fields that make a detection
// (object, size, packers, archive, viruses, errors and cure flags, fingerprint, new path and
// the nested items, recursively), not timings, engine versions or logs.
bool sm_reports_equal(qn::ScanReport const& a, qn::ScanReport const& b);
