#include "threats/sm_threat.h"

#include <boost/filesystem/path.hpp>

#include <ostream>

std::ostream& operator<<(std::ostream& out, sm_threat_t const& threat) {
  return out << "threat #" << threat.threat_id << ": dev=" << threat.dev << " ino=" << threat.ino
             << " path=" << threat.path << " tag='" << threat.tag << "'";
}
