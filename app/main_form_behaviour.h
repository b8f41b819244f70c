// MainFormBehaviour: what the main window "Configurator KTR via Modbus RTU"
// does, without a toolkit: start-up and its log, the configuration file,
// the web server (and where it goes when port 80 is taken), the Modbus
// worker and the device, the port list, the serial settings dialog's
// cycle, the device search with its gauge and Stop, Start, minimising to
// the notification area and closing. The window's faces (Qt on Linux,
// Win32 on Windows) own one and forward their events to it; it draws
// through MainFormView.
//
// Threads: the On* events, Start and the destructor run on the window
// thread. Log lines come from any thread (the web server's connection
// threads, the search thread); they, the gauge and the address list reach
// the view through MainFormView::Post, in the order they were made.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "main_form_view.h"
#include "serial_settings.h"

namespace ktr {
class TKtrDevice;
class TModbus;
class WebService;
}  // namespace ktr

namespace ktr::app {

// What the window takes from outside. The program itself takes no command
// line and no environment: the defaults are the production values. Tests
// change them (a free port, loopback, a temporary INI file, a made-up
// sysfs tree or registry key).
struct MainFormOptions {
  // HTTP port: 80; 0 takes any free port (read it back with HttpPort()).
  std::uint16_t httpPort = 80;
  // When httpPort cannot be had: the first free port from this one up.
  std::uint16_t fallbackPort = 8080;
  // Listen address; empty: every local address.
  std::string listenAddress;
  // The configuration file.
  std::string iniPath;
  // Where the port list comes from: the sysfs folder (Linux) or the
  // registry key (Windows) that lists the serial ports.
  std::string portSource;
  // The folder of the ports' stable names (Linux /dev/serial/by-id).
  std::string byIdFolder;
  // The web pages.
  std::string webRoot;
};

// The production options: port 80, every address, the platform's INI path
// and port list, the folder "Web" beside the executable, else the
// installed pages.
MainFormOptions DefaultMainFormOptions();

// The log's first entry and the hint that ends the start-up.
inline constexpr char kStartLogFirst[] = "KTR web settings v. 1.00 RS485";
inline constexpr char kStartLogHint[] =
    "Select the correct port of the connected\r\ndevice and press 'Search' button";
// The log keeps this many lines; the oldest go first, so that a server
// that runs for months does not grow it without end.
inline constexpr int kLogLinesKept = 10000;

class MainFormBehaviour {
 public:
  MainFormBehaviour(MainFormView& view, MainFormOptions options);
  // Stops the web server and waits for a running search (which ends at its
  // next address).
  ~MainFormBehaviour();
  MainFormBehaviour(const MainFormBehaviour&) = delete;
  MainFormBehaviour& operator=(const MainFormBehaviour&) = delete;

  // The start-up (OnCreate), once the face's controls exist: the log's
  // first line, the settings from the configuration file, the web server
  // (an error box and the fallback port when it cannot listen), the Modbus
  // worker, the port list with the last port found, the hint, and the
  // notification-area icon.
  void Start();

  // Appends one entry to the log; callable from any thread. "\r\n" inside
  // an entry starts a new line.
  void Log(const std::string& entry);

  // --- the operator's events ---
  void OnButtonSearchClick();  // Search, or Stop while a scan runs
  void OnButtonStartClick();
  void OnButtonSerialSettingsClick();
  void OnComboBoxPortDropDown();
  // The window was minimised: to the notification area, where there is one.
  void OnApplicationEventsMinimize();
  // Double-click on the icon, and its menu's "Open".
  void OnTrayIconDblClick();
  // The window closes (Exit, the icon's "Exit", the window system): the
  // web server stops, the icon goes. The face then ends the message loop.
  void OnClose();

  TKtrDevice& Device() { return *device_; }
  // The port the web server listens on; 0 when it could not start.
  std::uint16_t HttpPort() const;
  // The address the Start button opens: "http://localhost", with the port
  // when it is not 80.
  std::string PagesUrl() const;
  bool SearchRunning() const { return searching_; }

 private:
  void StartWebServer();
  void AppendLog(const std::string& entry);
  void OnSearchDone(bool found);

  MainFormView& view_;
  MainFormOptions options_;
  std::unique_ptr<TModbus> modbus_;
  std::unique_ptr<TKtrDevice> device_;
  std::unique_ptr<WebService> web_;
  std::thread searchThread_;
  std::atomic<bool> stopSearch_{false};  // set when the window goes
  std::atomic<bool> userStop_{false};    // set by Stop while a scan runs
  bool searching_ = false;
  std::string searchPort_;  // the port of the running search
};

}  // namespace ktr::app
