// TApplication: the Qt application with the program's handling of errors
// that escape an event handler: they are shown to the operator in an error
// box and the message loop goes on.
#pragma once

#include <QApplication>
#include <QString>

namespace ktr::app {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The standard error box: the exception's message, or an empty message
  // for a thrown object that is no std::exception.
  static void ShowException(const QString& message);
  // Shows the exception that is being handled (call inside a catch block).
  static void ShowCurrentException();
};

}  // namespace ktr::app
