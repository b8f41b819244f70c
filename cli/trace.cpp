#include "trace.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "process.h"
#include "serial_port_text.h"

namespace ktr::cli {
namespace {

bool traceWanted = false;

std::int64_t LocalMsOfDay() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const std::tm tm = LocalTime(t);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return ((tm.tm_hour * 60LL + tm.tm_min) * 60 + tm.tm_sec) * 1000 + ms;
}

// One whole line per call, so that trace lines never run into the log
// lines that other threads write to stderr.
void WriteTrace(bool sent, const std::uint8_t* data, std::size_t length) {
  const std::string line = TraceLine(LocalMsOfDay(), sent, data, length) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void AddTraceOption(CLI::App& app) {
  app.add_flag("--trace", traceWanted, "Print every frame sent (TX) and received (RX) in hex on stderr");
}

void AttachTrace(TModbus& master) {
  if (traceWanted) master.SetTrace(WriteTrace);
}

void PrintLineErrors(TModbus& master) {
  if (const auto moved = master.LineErrorsOfLastRequest()) {
    if (const std::string text = LineErrorsText(*moved); !text.empty())
      std::fprintf(stderr, "%s\n", text.c_str());
  }
}

}  // namespace ktr::cli
