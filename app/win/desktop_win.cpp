// Windows: the configuration file in the machine-wide program data folder,
// the browser through the shell's "open" verb on the URL, which starts the
// program registered for http.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "desktop.h"
#include "win_text.h"

namespace ktr::app {

std::string DefaultIniPath() { return "C:/ProgramData/Orvo/KTRWebServer/KTRWebServer.INI"; }

std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::wstring::size_type slash = path.find_last_of(L"\\/");
  return win::Utf8FromWide(slash == std::wstring::npos ? L"." : path.substr(0, slash));
}

void OpenInBrowser(const std::string& url) {
  // Runs on the window's thread, where COM has been initialised for the
  // shell, which may use it to hand the URL on.
  ShellExecuteW(nullptr, L"open", win::WideFromUtf8(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace ktr::app
