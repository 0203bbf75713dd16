#include <ostream>

#include "build_info.h"
#include "cli/global_options.h"

namespace korv::cli {

void showVersion(std::ostream& out, const std::string& title) {
  out << title << std::endl;
  out << "Version: " << KORV_VERSION << std::endl;
  out << "(Revision: " << KORV_REVISION << ", Built on: " << __DATE__ " " __TIME__ << ")"
      << std::endl;
  out << "Schema Supported: " << KORV_SCHEMA_VERSION << std::endl;
}

}  // namespace korv::cli
