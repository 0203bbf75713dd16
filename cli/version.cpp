#include <ostream>

#include "build_info.h"
#include "cli/global_options.h"

// The time of this file's compilation, unless the build fixed it (SOURCE_DATE_EPOCH).
#ifndef KORV_BUILT_ON
#define KORV_BUILT_ON __DATE__ " " __TIME__
#endif

namespace korv::cli {

void showVersion(std::ostream& out, const std::string& title) {
  out << title << std::endl;
  out << "Version: " << KORV_VERSION << std::endl;
  out << "(Revision: " << KORV_REVISION << ", Built on: " << KORV_BUILT_ON << ")" << std::endl;
  out << "Schema Supported: " << KORV_SCHEMA_VERSION << std::endl;
}

}  // namespace korv::cli
