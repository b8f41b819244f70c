// What the window asks of the desktop that differs per platform, one source
// file each (desktop_posix.cpp, desktop_win.cpp): where the configuration
// file lives, and showing a page in the default browser.
#pragma once

#include <QString>
#include <QUrl>

namespace ktr::app {

// Where the file lives: "C:/ProgramData/Orvo/KTRWebServer/KTRWebServer.INI"
// on Windows; on Linux the user's configuration folder ($XDG_CONFIG_HOME,
// by default ~/.config) + "/Orvo/KTRWebServer/KTRWebServer.INI".
QString DefaultIniPath();

// Shows `url` in the operator's default browser. Whether a browser could be
// started is not reported: the log already names the address.
void OpenInBrowser(const QUrl& url);

}  // namespace ktr::app
