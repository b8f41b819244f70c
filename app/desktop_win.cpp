// Windows: the configuration file in the machine-wide program data folder,
// the browser through the shell's "open" verb on the URL, which starts the
// program registered for http.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "desktop.h"

namespace ktr::app {

QString DefaultIniPath() { return QStringLiteral("C:/ProgramData/Orvo/KTRWebServer/KTRWebServer.INI"); }

void OpenInBrowser(const QUrl& url) {
  const std::wstring text = url.toString(QUrl::FullyEncoded).toStdWString();
  // Runs on the window's thread, where Qt has already initialised COM, which
  // the shell may use to hand the URL on.
  ShellExecuteW(nullptr, L"open", text.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace ktr::app
