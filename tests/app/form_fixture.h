// Helpers for driving TMainForm in a test: a private folder with the INI
// file, a made-up sysfs tree and a web root; options that put the web
// server on a free loopback port; and a watcher that answers the next modal
// window (message box or dialog) as soon as it shows.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

#include "main_form.h"

namespace ktr::test {

class FormFolder {
 public:
  FormFolder();
  // The configuration file's content before the window starts.
  void WriteIni(const QByteArray& content) const;
  QByteArray ReadIni() const;
  // A serial port in the made-up sysfs tree (with a device behind it).
  void AddPort(const QString& name) const;
  // Options for a window that uses this folder; the browser URLs it opens
  // are collected in `urls`.
  ktr::app::TMainFormOptions Options();

  QString iniPath() const { return dir_.filePath("config/KTRWebServer.INI"); }
  QString path(const QString& name) const { return dir_.filePath(name); }
  const QList<QUrl>& urls() const { return *urls_; }

 private:
  QTemporaryDir dir_;
  std::shared_ptr<QList<QUrl>> urls_ = std::make_shared<QList<QUrl>>();
};

// Calls `handle` once with the first modal widget that becomes active.
class ModalWatcher : public QObject {
  Q_OBJECT

 public:
  explicit ModalWatcher(std::function<void(QWidget*)> handle);
  bool handled() const { return handled_; }

 private:
  void Poll();

  std::function<void(QWidget*)> handle_;
  QTimer timer_;
  bool handled_ = false;
};

// The log's lines, as shown.
QStringList LogLines(const ktr::app::TMainForm& form);
// The items of a combo box.
QStringList Items(const class QComboBox* box);

}  // namespace ktr::test
