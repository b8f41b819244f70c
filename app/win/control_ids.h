// Control ids of the Win32 window and of its serial settings dialog, and
// the window classes: the window's code and the test that drives it under
// Wine (tests/windows/wine_window_test.cpp) find the controls by these.
#pragma once

namespace ktr::app::win {

// Window classes.
inline constexpr wchar_t kMainFormClass[] = L"TMainForm";

// Main window.
enum MainFormId : int {
  kToolBar1 = 100,
  kButtonSearch = 101,
  kButtonStart = 102,
  kButtonClose = 103,
  kImage1 = 110,
  kGroupBoxLogWindow = 120,
  kMemoLogWindow = 121,
  kGroupBox2 = 130,
  kComboBoxPort = 131,
  kButtonSerialSettings = 132,
  kLabelSerialSettings = 133,
  kGroupBoxAddress = 140,
  kComboBoxAddress = 141,
  kGauge = 150,
  // Notification-area menu.
  kActOpen = 301,
  kActClose = 302,
};

// Serial settings dialog (Button2 "OK" is IDOK, Button1 "Zrušiť" IDCANCEL).
enum SerialSetId : int {
  kLabel1 = 201,
  kLabelParity = 202,
  kLabelStop = 203,
  kLabelSize = 204,
  kComboBoxBaud = 211,
  kComboBoxParita = 212,
  kComboBoxStop = 213,
  kComboBoxData = 214,
  kCheckBoxRs485 = 215,
};

// Resources (KTRWebServer.rc).
enum ResourceId : int {
  kIconApp = 1,
  kIconSearch = 2,
  kIconStart = 3,
  kIconExit = 4,
  kIconStop = 5,
  kBitmapLogo = 10,
};

}  // namespace ktr::app::win
