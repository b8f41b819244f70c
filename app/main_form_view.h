// MainFormView: what the main window's shared behaviour (MainFormBehaviour)
// asks of a face of the window: the Qt window on Linux, the Win32 window on
// Windows. A face creates its controls, forwards the operator's events to
// the behaviour and draws what it is told here; it decides nothing itself.
//
// Every call but Post comes on the window thread. Texts are UTF-8.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "line_settings.h"
#include "port_list.h"

namespace ktr::app {

class MainFormView {
 public:
  virtual ~MainFormView() = default;

  // Runs `task` on the window thread, after every task posted before it.
  // Callable from any thread; never runs `task` before returning. Tasks
  // still queued when the window goes are dropped.
  virtual void Post(std::function<void()> task) = 0;

  // --- log, gauge, lists ---
  // Appends one line (no line break inside) to the log.
  virtual void AppendLogLine(const std::string& line) = 0;
  // The gauge's range and position; a position below the minimum is the
  // empty gauge of a new scan.
  virtual void ShowGauge(int minimum, int maximum, int position) = 0;
  // The device address list, first item selected (none when empty).
  virtual void ShowAddresses(const std::vector<std::string>& addresses) = 0;
  // The port list, first item selected; each port's description shown
  // beside its name where the face can.
  virtual void ShowPorts(const std::vector<PortEntry>& ports) = 0;
  // The port field: the item of that name when listed, else typed in.
  virtual void ShowPortText(const std::string& port) = 0;
  // The port field's text (the port to search on).
  virtual std::string PortText() const = 0;
  // The line settings label.
  virtual void ShowLineSettings(const std::string& text) = 0;

  // --- buttons ---
  // The Search button's face: "Search", or "Stop" while a scan runs; and
  // whether it can be pressed.
  virtual void ShowSearchButton(bool stop, bool enabled) = 0;
  virtual void EnableStart(bool enabled) = 0;
  virtual void EnableSerialSettings(bool enabled) = 0;

  // --- modal windows, desktop ---
  // The serial settings dialog, modal and centred on the main window,
  // opened with `choice`; the operator's choice when closed with OK, none
  // when cancelled.
  virtual std::optional<LineChoice> RunSerialSettings(const LineChoice& choice) = 0;
  // The standard error box, modal.
  virtual void ShowError(const std::string& message) = 0;
  virtual void OpenBrowser(const std::string& url) = 0;

  // --- window and notification-area icon ---
  // Whether the desktop has a notification area to put the icon in.
  virtual bool HasNotificationArea() const = 0;
  virtual void ShowTrayIcon(bool shown) = 0;
  // Hides the main window (minimised to the notification area).
  virtual void HideWindow() = 0;
  // Shows the main window again, restored and in front.
  virtual void RestoreWindow() = 0;
};

}  // namespace ktr::app
