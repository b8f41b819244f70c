// TMainForm, the Win32 face of the main window "Configurator KTR via Modbus
// RTU": the system's own controls (Common Controls 6), a notification-area
// icon and the serial settings dialog (serial_set_win.cpp). What the window
// does is MainFormBehaviour's; this class creates the controls, forwards
// their events and draws what it is told.
//
// Threads: the window belongs to the thread that creates it. Other threads
// never touch it: MainFormView::Post puts their work in a locked queue and
// wakes the window thread with one posted message.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "main_form_behaviour.h"
#include "main_form_view.h"

namespace ktr::app::win {

class TMainForm final : public MainFormView {
 public:
  // Creates the window and its controls, runs the start-up and shows the
  // window, centred on the screen, as `show` says (the shortcut's "Run"
  // choice: normal or minimised).
  TMainForm(HINSTANCE instance, MainFormOptions options, int show = SW_SHOWNORMAL);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  HWND Handle() const { return hwnd_; }

  // MainFormView
  void Post(std::function<void()> task) override;
  void AppendLogLine(const std::string& line) override;
  void ShowGauge(int minimum, int maximum, int position) override;
  void ShowAddresses(const std::vector<std::string>& addresses) override;
  void ShowPorts(const std::vector<PortEntry>& ports) override;
  void ShowPortText(const std::string& port) override;
  std::string PortText() const override;
  void ShowLineSettings(const std::string& text) override;
  void ShowSearchButton(bool stop, bool enabled) override;
  void EnableStart(bool enabled) override;
  void EnableSerialSettings(bool enabled) override;
  std::optional<LineChoice> RunSerialSettings(const LineChoice& choice) override;
  void ShowError(const std::string& message) override;
  void OpenBrowser(const std::string& url) override;
  bool HasNotificationArea() const override;
  void ShowTrayIcon(bool shown) override;
  void HideWindow() override;
  void RestoreWindow() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  void OnTrayMessage(WPARAM wParam, LPARAM lParam);
  void PopupMenu();
  void RunTasks();
  void CreateComponents();
  void ApplyDpi(UINT dpi);
  // A control by its id: the window's own, or a toolbar button.
  HWND Control(int id) const;
  bool AddTrayIcon();
  void LoadPictures(UINT dpi);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  HFONT font_ = nullptr;
  HICON appIcon_ = nullptr;
  HICON appIconSmall_ = nullptr;
  HICON searchIcon_ = nullptr;
  HICON startIcon_ = nullptr;
  HICON exitIcon_ = nullptr;
  HICON stopIcon_ = nullptr;
  HBITMAP logo_ = nullptr;
  UINT dpi_ = 96;
  UINT taskbarCreated_ = 0;  // "TaskbarCreated": Explorer has (re)started
  bool trayWanted_ = false;  // the behaviour asked for the icon
  bool trayShown_ = false;   // and the shell has it
  int logLines_ = 0;
  std::mutex tasksMutex_;
  std::deque<std::function<void()>> tasks_;
  std::unique_ptr<MainFormBehaviour> behaviour_;
};

// The standard error box: `message` with the program's name as its title,
// over `owner` (or no window).
void ShowErrorBox(HWND owner, const std::string& message);

}  // namespace ktr::app::win
