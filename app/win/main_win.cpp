// KTRWebServer.exe: the configurator's window on Windows. Creates the main
// window (which runs the start-up) and runs the message loop until the
// window closes. An error that escapes is shown in the standard error box;
// the result is always 0.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <string>

#include "main_form_behaviour.h"
#include "main_form_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  // The shell's "open" on a URL may hand it on through COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                                                        ICC_PROGRESS_CLASS |
                                                                        ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  try {
    ktr::app::win::TMainForm MainForm(instance, ktr::app::DefaultMainFormOptions(), show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Tab and the arrow keys move between the controls.
      if (IsDialogMessageW(MainForm.Handle(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  } catch (const std::exception& e) {
    ktr::app::win::ShowErrorBox(nullptr, e.what());
  } catch (...) {
    ktr::app::win::ShowErrorBox(nullptr, std::string());
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
