// What TMainForm takes from outside. The program itself takes no command
// line and no environment: main() uses the defaults, which are the
// production values. Tests change them (a free port, loopback, a temporary
// INI file, a made-up sysfs tree). Construct after the QApplication.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>

#include "desktop.h"
#include "port_list.h"
#include "web_root_path.h"

namespace ktr::app {

struct TMainFormOptions {
  // HTTP port: 80; 0 takes any free port (read it back with HttpPort()).
  std::uint16_t httpPort = 80;
  // Listen address; empty: every local address.
  std::string listenAddress;
  // The configuration file.
  QString iniPath = DefaultIniPath();
  // Where the port list comes from: the sysfs folder (Linux) or the
  // registry key (Windows) that lists the serial ports.
  QString portSource = QString::fromStdString(DefaultPortSource());
  // The folder of the ports' stable names (Linux /dev/serial/by-id).
  QString byIdFolder = QString::fromStdString(DefaultByIdFolder());
  // The web pages: the folder "Web" beside the executable, else the
  // installed pages (ChooseWebRoot).
  QString webRoot = QString::fromStdString(
      ChooseWebRoot((QCoreApplication::applicationDirPath() + QStringLiteral("/Web")).toStdString()));
  // Shows a URL in the default browser; empty: OpenInBrowser.
  std::function<void(const QUrl&)> openBrowser;
};

}  // namespace ktr::app
