#include "main_form_behaviour.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "desktop.h"
#include "ini_settings.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "port_list.h"
#include "web_root_path.h"
#include "web_service.h"

namespace ktr::app {
namespace {

// Ports tried from the fallback port up when the configured one is taken.
constexpr int kFallbackPortsTried = 100;

// The system's reason in the server's "Cannot listen on WHERE: REASON".
std::string ListenReason(const std::string& error) {
  constexpr std::string_view kPrefix = "Cannot listen on ";
  if (error.rfind(kPrefix, 0) != 0) return error;
  const std::string::size_type colon = error.find(": ", kPrefix.size());
  return colon == std::string::npos ? error : error.substr(colon + 2);
}

}  // namespace

MainFormOptions DefaultMainFormOptions() {
  MainFormOptions options;
  options.iniPath = DefaultIniPath();
  options.portSource = DefaultPortSource();
  options.byIdFolder = DefaultByIdFolder();
  options.webRoot = ChooseWebRoot(ExecutableFolder() + "/Web");
  return options;
}

MainFormBehaviour::MainFormBehaviour(MainFormView& view, MainFormOptions options)
    : view_(view), options_(std::move(options)) {}

MainFormBehaviour::~MainFormBehaviour() {
  // Nothing may call back into the window once it is going: stop the
  // connection threads and wait for a search that is still scanning (it
  // ends at its next address) before the members go.
  stopSearch_ = true;
  if (web_) web_->Stop();
  if (searchThread_.joinable()) searchThread_.join();
}

// Start-up, in this order: the device (its mutex and settings record), the
// settings from the configuration file, the web server, the port list and
// the hint. The Modbus worker is created before the web server, because the
// server answers from its first moment and every device endpoint needs the
// worker.
void MainFormBehaviour::Start() {
  AppendLog(kStartLogFirst);

  modbus_ = std::make_unique<TModbus>();
  device_ = std::make_unique<TKtrDevice>(
      *modbus_, [this](const std::string& line) { Log(line); },
      [this](const std::vector<std::string>& addresses) {
        view_.Post([this, addresses] { view_.ShowAddresses(addresses); });
      });

  SerialSettings settings = device_->Settings();
  LoadIniSettings(options_.iniPath, settings);
  settings.timeoutMs = 1000;
  settings.transport = 0;
  device_->SetSettings(settings);

  StartWebServer();

  OnComboBoxPortDropDown();
  // The port on which the last search found a device, typed in when it is
  // not listed (a pseudo-terminal, an adapter not plugged in yet).
  const std::string lastPort = LoadIniPort(options_.iniPath);
  if (!lastPort.empty()) view_.ShowPortText(lastPort);
  AppendLog(kStartLogHint);

  if (view_.HasNotificationArea()) view_.ShowTrayIcon(true);
}

// The server on the configured port; when that cannot be had (another web
// server, the system's HTTP service, no right to port 80) the operator sees
// why, and the pages go to the first free port from the fallback port up,
// on the same addresses, so that Start still opens them.
void MainFormBehaviour::StartWebServer() {
  web_ = std::make_unique<WebService>(*device_, options_.webRoot);
  const std::string error = web_->Start(options_.listenAddress, options_.httpPort);
  if (error.empty()) return;
  // The search and the device work without the pages.
  AppendLog(error);
  view_.ShowError(error);
  if (options_.httpPort == 0) return;
  const int first = options_.fallbackPort;
  const int last = std::min(first + kFallbackPortsTried - 1, 65535);
  for (int port = first; port <= last; ++port) {
    if (port == options_.httpPort) continue;
    if (web_->Start(options_.listenAddress, static_cast<std::uint16_t>(port)).empty()) {
      AppendLog("Pages on " + PagesUrl() + " (port " + std::to_string(options_.httpPort) +
                " is taken: " + ListenReason(error) + ")");
      return;
    }
  }
  AppendLog("The pages are not served: no free port from " + std::to_string(first) + " to " +
            std::to_string(last));
}

std::uint16_t MainFormBehaviour::HttpPort() const { return web_ ? web_->port() : 0; }

std::string MainFormBehaviour::PagesUrl() const {
  const std::uint16_t port = HttpPort();
  std::string url = "http://localhost";
  if (port != 0 && port != 80) url += ":" + std::to_string(port);
  return url;
}

// Every entry goes through the window's queue, from the window thread as
// well: one queue keeps the lines in the order they were logged, whichever
// threads they came from.
void MainFormBehaviour::Log(const std::string& entry) {
  view_.Post([this, entry] { AppendLog(entry); });
}

void MainFormBehaviour::AppendLog(const std::string& entry) {
  std::string::size_type begin = 0;
  for (;;) {
    const std::string::size_type end = entry.find("\r\n", begin);
    view_.AppendLogLine(entry.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) break;
    begin = end + 2;
  }
}

// The search of the bus runs on its own thread; its log lines, the gauge
// and the address list come back through the window's queue, in the order
// the search made them. The line settings button waits with Search: the
// scan uses the settings record the dialog writes. While the scan runs the
// Search button is a Stop button: the scan then ends at its next address.
void MainFormBehaviour::OnButtonSearchClick() {
  if (searching_) {
    if (!userStop_.exchange(true)) view_.ShowSearchButton(true, false);  // until the scan has ended
    return;
  }
  if (searchThread_.joinable()) searchThread_.join();
  searching_ = true;
  userStop_ = false;
  view_.ShowSearchButton(true, true);
  view_.EnableSerialSettings(false);

  searchPort_ = view_.PortText();
  searchThread_ = std::thread([this, portName = searchPort_] {
    bool found = false;
    try {
      TKtrDevice::SearchProgress progress;
      progress.stopRequested = [this] { return stopSearch_.load() || userStop_.load(); };
      progress.gauge = [this](int minimum, int maximum, int position) {
        view_.Post([this, minimum, maximum, position] { view_.ShowGauge(minimum, maximum, position); });
      };
      found = device_->SearchDevice(portName, progress);
    } catch (const std::exception& e) {
      Log(std::string("Search failed: ") + e.what());
    }
    view_.Post([this, found] { OnSearchDone(found); });
  });
}

void MainFormBehaviour::OnSearchDone(bool found) {
  if (searchThread_.joinable()) searchThread_.join();  // it has just posted this and ends
  searching_ = false;
  view_.ShowSearchButton(false, true);
  view_.EnableSerialSettings(true);
  if (userStop_.exchange(false) && !found) AppendLog("Search stopped");
  // A later search that finds nothing leaves Start as it was.
  if (found) {
    view_.EnableStart(true);
    const std::string error = SaveIniPort(options_.iniPath, searchPort_);
    if (!error.empty()) AppendLog(error);
  }
}

void MainFormBehaviour::OnButtonStartClick() {
  Log("Start http://localhost ....");
  view_.EnableStart(false);
  // Whether the browser could be started is not reported.
  view_.OpenBrowser(PagesUrl());
}

void MainFormBehaviour::OnButtonSerialSettingsClick() {
  SerialSettings settings = device_->Settings();
  const LineChoice shown = ChoiceFromSettings(settings);
  // The label follows the record even when the dialog is then cancelled.
  view_.ShowLineSettings(SettingsLabelText(shown));
  const std::optional<LineChoice> chosen = view_.RunSerialSettings(shown);
  if (!chosen) return;
  // Only the line fields change: a search cannot run meanwhile (its button
  // and this one exclude each other), so the rest of the record is current.
  settings = ApplyChoice(settings, *chosen);
  view_.ShowLineSettings(SettingsLabelText(*chosen));
  device_->SetSettings(settings);
  const std::string error = SaveIniSettings(options_.iniPath, settings);
  if (!error.empty()) view_.ShowError(error);
}

void MainFormBehaviour::OnComboBoxPortDropDown() {
  view_.ShowPorts(SystemPorts(options_.portSource, options_.byIdFolder));
}

void MainFormBehaviour::OnApplicationEventsMinimize() {
  // Without a notification area a hidden window could not be brought back:
  // then the window only minimises.
  if (!view_.HasNotificationArea()) return;
  view_.HideWindow();
  view_.ShowTrayIcon(true);
}

void MainFormBehaviour::OnTrayIconDblClick() {
  view_.ShowTrayIcon(false);
  view_.RestoreWindow();
}

void MainFormBehaviour::OnClose() {
  view_.HideWindow();
  view_.ShowTrayIcon(false);
  if (web_) web_->Stop();
}

}  // namespace ktr::app
