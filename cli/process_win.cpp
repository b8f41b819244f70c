// Windows: console control events (Ctrl+C, Ctrl+Break, closing the console
// window, logoff, shutdown) taken by a handler that wakes the waiting main
// thread; the executable's folder from GetModuleFileNameW.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include <atomic>
#include <string>
#include <vector>

#include "process.h"
#include "win_text.h"

namespace ktr::cli {
namespace {

HANDLE stopEvent = nullptr;
std::atomic<DWORD> stopKind{CTRL_C_EVENT};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD kind) {
  stopKind.store(kind);
  SetEvent(stopEvent);
  if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT) {
    // The system ends the process as soon as the handler returns from these
    // (and after 5 s at the latest): give the main thread that time to stop
    // the server; its exit ends the process before this returns.
    Sleep(5000);
  }
  return TRUE;  // handled: no default handler that ends the process
}

}  // namespace

void PrepareForStopRequest() {
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::string WaitForStopRequest() {
  WaitForSingleObject(stopEvent, INFINITE);
  switch (stopKind.load()) {
    case CTRL_C_EVENT: return "Ctrl+C";
    case CTRL_BREAK_EVENT: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT: return "console closed";
    default: return "logoff or shutdown";
  }
}

std::string ExecutableFolder() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: try again with more room
  }
  const std::size_t slash = std::wstring_view(path.data(), path.size()).find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return {};
  // In the ANSI code page: the C library's fopen, which serves the files,
  // takes its paths in it.
  return win::AnsiFromWide(std::wstring_view(path.data(), slash));
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace ktr::cli
