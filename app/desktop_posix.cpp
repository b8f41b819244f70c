// Linux and other desktops that Qt knows: the configuration file under the
// user's configuration folder, the browser through the desktop's URL handler
// (xdg-open and its kin, as Qt finds them).
#include <QDesktopServices>
#include <QStandardPaths>

#include "desktop.h"

namespace ktr::app {

QString DefaultIniPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Orvo/KTRWebServer/KTRWebServer.INI");
}

void OpenInBrowser(const QUrl& url) { QDesktopServices::openUrl(url); }

}  // namespace ktr::app
