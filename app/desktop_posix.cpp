// Linux and other desktops that Qt knows: the configuration file under the
// user's configuration folder, the browser through the desktop's URL handler
// (xdg-open and its kin, as Qt finds them).
#include <QCoreApplication>
#include <QDesktopServices>
#include <QStandardPaths>
#include <QString>
#include <QUrl>

#include "desktop.h"

namespace ktr::app {

std::string DefaultIniPath() {
  return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
          QStringLiteral("/Orvo/KTRWebServer/KTRWebServer.INI"))
      .toStdString();
}

std::string ExecutableFolder() { return QCoreApplication::applicationDirPath().toStdString(); }

void OpenInBrowser(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

}  // namespace ktr::app
