#include "application.h"

#include <QMessageBox>

#include <exception>

namespace ktr::app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("KTRWebServer"));
  setOrganizationName(QStringLiteral("Orvo"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  // Qt does not let exceptions pass through its event loop: catch them at
  // the last point where the loop can still go on.
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

void TApplication::ShowException(const QString& message) {
  QMessageBox::critical(
      nullptr, applicationName().isEmpty() ? QStringLiteral("KTRWebServer") : applicationName(), message);
}

void TApplication::ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ShowException(QString());
  }
}

}  // namespace ktr::app
