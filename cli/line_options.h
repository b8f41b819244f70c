// Serial line options shared by every ktr-cli command.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "serial_settings.h"

namespace ktr::cli {

struct LineOptions {
  std::string port;
  int address = 1;
  int baud = 19200;
  std::string parity = "even";
  std::string stop = "1";
  int data = 8;
  int timeoutMs = 1000;
  bool rs485 = false;
  std::string echo = "auto";
};

// Adds --port, --address, --baud, --parity, --stop, --data, --timeout,
// --rs485 and --echo.
void AddLineOptions(CLI::App& command, LineOptions& options, bool needAddress = true);

// The settings record for the master; the option values are already checked.
SerialSettings ToSerialSettings(const LineOptions& options);

}  // namespace ktr::cli
