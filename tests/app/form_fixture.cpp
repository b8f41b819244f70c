#include "form_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>

namespace ktr::test {

FormFolder::FormFolder() {
  QDir(dir_.path()).mkpath("config");
  QDir(dir_.path()).mkpath("sys/class/tty");
  QDir(dir_.path()).mkpath("Web");
  QFile page(dir_.filePath("Web/index.html"));
  if (page.open(QIODevice::WriteOnly)) page.write("<html>KTR test page</html>");
}

void FormFolder::WriteIni(const QByteArray& content) const {
  QFile file(iniPath());
  if (file.open(QIODevice::WriteOnly)) file.write(content);
}

QByteArray FormFolder::ReadIni() const {
  QFile file(iniPath());
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FormFolder::AddPort(const QString& name) const {
  QDir(dir_.path()).mkpath("sys/class/tty/" + name + "/device");
}

ktr::app::TMainFormOptions FormFolder::Options() {
  ktr::app::TMainFormOptions options;
  options.httpPort = 0;
  options.listenAddress = "127.0.0.1";
  options.iniPath = iniPath().toStdString();
  options.portSource = dir_.filePath("sys/class/tty").toStdString();
  options.byIdFolder = dir_.filePath("dev/serial/by-id").toStdString();
  options.webRoot = dir_.filePath("Web").toStdString();
  options.openBrowser = [urls = urls_](const std::string& url) {
    urls->append(QUrl(QString::fromStdString(url)));
  };
  return options;
}

ModalWatcher::ModalWatcher(std::function<void(QWidget*)> handle) : handle_(std::move(handle)) {
  connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
  timer_.start(10);
}

void ModalWatcher::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (handled_ || modal == nullptr || !modal->isVisible()) return;
  handled_ = true;
  timer_.stop();
  handle_(modal);
}

QStringList LogLines(const ktr::app::TMainForm& form) {
  return form.MemoLogWindow->toPlainText().split('\n');
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

}  // namespace ktr::test
