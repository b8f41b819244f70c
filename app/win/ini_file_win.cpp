// Windows: the INI file through the system's profile calls (UTF-16 paths
// and texts). WritePrivateProfileStringW writes the file through at once.
#include <windows.h>

#include <vector>

#include "ini_file.h"
#include "win_text.h"

namespace ktr::app {

std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key) {
  const std::wstring file = win::WideFromUtf8(path);
  const std::wstring sectionW = win::WideFromUtf8(section);
  const std::wstring keyW = win::WideFromUtf8(key);
  // A default that no value can be tells a missing key from an empty one.
  static const wchar_t kMissing[] = L"\x1f\x1e";
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    const DWORD n = GetPrivateProfileStringW(sectionW.c_str(), keyW.c_str(), kMissing, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file.c_str());
    if (n + 1 < buffer.size() || buffer.size() >= 65536) {
      const std::wstring value(buffer.data(), n);
      if (value == kMissing) return std::nullopt;
      return win::Utf8FromWide(value);
    }
    buffer.resize(buffer.size() * 4);
  }
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
  return WritePrivateProfileStringW(win::WideFromUtf8(section).c_str(), win::WideFromUtf8(key).c_str(),
                                    win::WideFromUtf8(value).c_str(), win::WideFromUtf8(path).c_str()) != 0;
}

}  // namespace ktr::app
