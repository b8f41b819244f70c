#include "device_commands.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "check_hint.h"
#include "fleet_commands.h"
#include "ktr_device.h"
#include "line_options.h"
#include "modbus_master.h"
#include "process.h"
#include "trace.h"
#include "web_root_path.h"
#include "web_service.h"

namespace ktr::cli {
namespace {

struct ScanArgs {
  LineOptions line;
  bool all = false;
};

struct ServeArgs {
  LineOptions line;
  int address = 0;  // 0: search the bus first
  std::string listen = "127.0.0.1:8080";
  std::string webRoot;
};

// The settings of the search: line options from the command line; the port
// name, address and time-outs are set by the search itself.
SerialSettings SearchSettings(const LineOptions& line) {
  SerialSettings s = ToSerialSettings(line);
  s.timeoutMs = 1000;
  return s;
}

std::string VersionText(std::uint32_t v) {
  return std::to_string((v >> 16) & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + "." +
         std::to_string(v & 0xFF);
}

int RunScan(const ScanArgs& a) {
  TModbus modbus;
  AttachTrace(modbus);
  TKtrDevice device(
      modbus, [](const std::string& line) { std::printf("%s\n", line.c_str()); }, nullptr);
  device.SetSettings(SearchSettings(a.line));
  if (!device.SearchDevice(a.line.port, {})) {
    // After the search's own log lines, which say whether the port opened.
    std::fflush(stdout);
    PrintCheck(stderr, CheckText(Check::kNoDevice));
    return 1;
  }
  std::printf("address %u\n", static_cast<unsigned>(device.Settings().slaveAddress));
  std::printf("firmware %s\n", device.FirmwareTextCopy().c_str());
  std::printf("version %s\n", VersionText(device.FirmwareVersionValue()).c_str());
  return 0;
}

// Log lines of the server go to stderr with a timestamp; connection threads
// log concurrently, so lines are written whole under a lock.
void LogLine(const std::string& line) {
  static std::mutex mutex;
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm tm = LocalTime(t);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::lock_guard<std::mutex> lock(mutex);
  std::fprintf(stderr, "%s.%03d %s\n", stamp, static_cast<int>(ms), line.c_str());
  std::fflush(stderr);
}

// "HOST:PORT" or "[V6]:PORT" into its parts; false when malformed.
bool SplitListen(const std::string& text, std::string& host, std::uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::string portText = text.substr(colon + 1);
  if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5) {
    return false;
  }
  const unsigned long value = std::stoul(portText);
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// "Web" beside the executable, or the installed pages (ChooseWebRoot).
std::string DefaultWebRoot() {
  const std::string folder = ExecutableFolder();
  return ChooseWebRoot(folder.empty() ? std::string("Web")
                                      : (std::filesystem::path(folder) / "Web").string());
}

int RunServe(const ServeArgs& a) {
  std::string host;
  std::uint16_t port = 0;
  SplitListen(a.listen, host, port);  // checked when parsing

  // Before any thread starts (the master's worker is the first).
  PrepareForStopRequest();

  TModbus modbus;
  AttachTrace(modbus);
  TKtrDevice device(modbus, LogLine, nullptr);
  device.SetSettings(SearchSettings(a.line));
  if (a.address == 0) {
    if (!device.SearchDevice(a.line.port, {})) return 1;
  } else {
    SerialSettings s = device.Settings();
    std::ignore = SetPortName(s, a.line.port);  // checked when parsing
    s.slaveAddress = static_cast<std::uint8_t>(a.address);
    device.SetSettings(s);
    // The firmware is read as a search reads it, so that the pages know what
    // they compare files with; a silent device is served all the same (the
    // pages say it does not answer).
    if (const std::string why = device.SelectAddress(a.address); !why.empty()) {
      LogLine("Error read device version !!!");
      LogLine("Address " + std::to_string(a.address) + ": " + why);
    }
  }

  const std::string webRoot = a.webRoot.empty() ? DefaultWebRoot() : a.webRoot;
  WebService web(device, webRoot);
  const std::string error = web.Start(host, port);
  if (!error.empty()) {
    LogLine(error);
    return 1;
  }
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::printf("listening on http://%s:%u (web root %s)\n", shownHost.c_str(),
              static_cast<unsigned>(web.port()), webRoot.c_str());
  std::fflush(stdout);

  LogLine("Stopping (" + WaitForStopRequest() + ")");
  web.Stop();  // lets running requests finish; each closes the port it opened
  return 0;
}

}  // namespace

void AddDeviceCommands(CLI::App& app, std::function<int()>& run) {
  auto scanArgs = std::make_shared<ScanArgs>();
  CLI::App* scan = app.add_subcommand("scan", "Search the bus for the first device (addresses 1-126)");
  AddLineOptions(*scan, scanArgs->line, /*needAddress=*/false);
  scan->add_flag("--all", scanArgs->all, "Every device that answers, one line each");
  scan->callback([scanArgs, &run] {
    run = [scanArgs] { return scanArgs->all ? RunScanAll(scanArgs->line) : RunScan(*scanArgs); };
  });

  auto serveArgs = std::make_shared<ServeArgs>();
  CLI::App* serve = app.add_subcommand(
      "serve", "Serve the configurator's web pages and endpoints for one device, without a window");
  AddLineOptions(*serve, serveArgs->line, /*needAddress=*/false);
  serve->add_option("--address", serveArgs->address, "Device address; without it the bus is searched")
      ->check(CLI::Range(1, 247));
  serve->add_option("--listen", serveArgs->listen, "HOST:PORT to listen on (PORT 0: any free port)")
      ->capture_default_str()
      ->check([](const std::string& text) {
        std::string host;
        std::uint16_t port = 0;
        return SplitListen(text, host, port) ? std::string() : "expected HOST:PORT, got " + text;
      });
  serve
      ->add_option("--web", serveArgs->webRoot,
                   "Folder of the web pages (default: Web beside ktr-cli, else the installed pages)")
      ->check(CLI::ExistingDirectory);
  serve->callback([serveArgs, &run] { run = [serveArgs] { return RunServe(*serveArgs); }; });
}

}  // namespace ktr::cli
