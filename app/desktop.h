// What the window asks of the desktop that differs per platform, one source
// file each (desktop_posix.cpp, win/desktop_win.cpp): where the
// configuration file lives, the program's own folder, and showing a page in
// the default browser. Texts are UTF-8.
#pragma once

#include <string>

namespace ktr::app {

// Where the file lives: "C:/ProgramData/Orvo/KTRWebServer/KTRWebServer.INI"
// on Windows; on Linux the user's configuration folder ($XDG_CONFIG_HOME,
// by default ~/.config) + "/Orvo/KTRWebServer/KTRWebServer.INI".
std::string DefaultIniPath();

// The folder of the running executable.
std::string ExecutableFolder();

// Shows `url` in the operator's default browser. Whether a browser could be
// started is not reported: the log already names the address.
void OpenInBrowser(const std::string& url);

}  // namespace ktr::app
