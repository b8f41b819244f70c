#include "ini_settings.h"

#include <QSettings>
#include <QVariant>

#include <array>
#include <limits>

namespace ktr::app {
namespace {

constexpr char kSection[] = "PC";

// One integer key with its default and the range its field holds.
struct IntegerKey {
  const char* name;
  int fallback;
  int minimum;
  int maximum;
};

int ReadInteger(QSettings& ini, const IntegerKey& key) {
  const QVariant value = ini.value(key.name);
  if (!value.isValid()) return key.fallback;
  bool ok = false;
  const int number = value.toString().trimmed().toInt(&ok);
  if (!ok || number < key.minimum || number > key.maximum) return key.fallback;
  return number;
}

}  // namespace

void LoadIniSettings(const QString& path, SerialSettings& settings) {
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kSection);
  settings.baudRate = ReadInteger(ini, {"Baud", 19200, 1, std::numeric_limits<int>::max()});
  settings.parity = static_cast<std::uint8_t>(ReadInteger(ini, {"Parity", 2, 0, 255}));
  settings.stopBits = static_cast<std::uint8_t>(ReadInteger(ini, {"StopBits", 0, 0, 255}));
  settings.dataBits = static_cast<std::uint8_t>(ReadInteger(ini, {"Size", 8, 0, 255}));
  settings.rs485 = ReadInteger(ini, {"RS485", 0, 0, 1}) == 1;
  ini.endGroup();
}

QString SaveIniSettings(const QString& path, const SerialSettings& settings) {
  const std::array<std::pair<const char*, int>, 5> keys{{
      {"Baud", settings.baudRate},
      {"Parity", settings.parity},
      {"StopBits", settings.stopBits},
      {"Size", settings.dataBits},
      {"RS485", settings.rs485 ? 1 : 0},
  }};
  QSettings ini(path, QSettings::IniFormat);
  for (const auto& [name, value] : keys) {
    ini.setValue(QString(kSection) + '/' + name, value);
    ini.sync();
    if (ini.status() != QSettings::NoError) {
      return QStringLiteral("Unable to write to %1").arg(path);
    }
  }
  return {};
}

QString LoadIniPort(const QString& path) {
  QSettings ini(path, QSettings::IniFormat);
  return ini.value(QString(kSection) + "/Port").toString().trimmed();
}

QString SaveIniPort(const QString& path, const QString& port) {
  QSettings ini(path, QSettings::IniFormat);
  ini.setValue(QString(kSection) + "/Port", port);
  ini.sync();
  if (ini.status() != QSettings::NoError) return QStringLiteral("Unable to write to %1").arg(path);
  return {};
}

}  // namespace ktr::app
