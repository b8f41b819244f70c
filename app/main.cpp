// KTRWebServer: the configurator's window. Creates the main window, then
// the serial settings dialog, and runs the message loop until the window
// closes. It reads no command line and no environment of its own; the
// result is always 0.
#include "application.h"
#include "main_form.h"
#include "serial_set.h"

int main(int argc, char** argv) {
  ktr::app::TApplication app(argc, argv);
  // The window ends the loop itself when it closes: a window hidden in the
  // notification area is closed from there without being the last visible
  // window.
  app.setQuitOnLastWindowClosed(false);
  try {
    ktr::app::TMainForm MainForm;
    MainForm.SerialSet();
    QObject::connect(&MainForm, &ktr::app::TMainForm::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    MainForm.show();
    ktr::app::TApplication::exec();
  } catch (...) {
    ktr::app::TApplication::ShowCurrentException();
  }
  return 0;
}
