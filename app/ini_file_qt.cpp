// Linux: the INI file through QSettings in its INI format.
#include <QSettings>
#include <QString>
#include <QVariant>

#include "ini_file.h"

namespace ktr::app {
namespace {

QString Key(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + '/' + QString::fromStdString(key);
}

}  // namespace

std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key) {
  const QSettings ini(QString::fromStdString(path), QSettings::IniFormat);
  const QVariant value = ini.value(Key(section, key));
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdString();
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
  QSettings ini(QString::fromStdString(path), QSettings::IniFormat);
  ini.setValue(Key(section, key), QString::fromStdString(value));
  ini.sync();
  return ini.status() == QSettings::NoError;
}

}  // namespace ktr::app
