#include "web_root_path.h"

#include <filesystem>
#include <system_error>

// KTR_WEB_FROM_BIN: the installed pages relative to the installed
// executables ("../share/ktr-configurator/Web"), set by the build from the
// install folders (web/CMakeLists.txt).

namespace ktr {

std::string ChooseWebRoot(const std::string& besideExecutable) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(besideExecutable, ec)) return besideExecutable;
  const fs::path bin = fs::path(besideExecutable).parent_path();
  if (bin.empty()) return besideExecutable;
  const fs::path installed = (bin / KTR_WEB_FROM_BIN).lexically_normal();
  if (fs::is_directory(installed, ec)) return installed.string();
  return besideExecutable;
}

}  // namespace ktr
