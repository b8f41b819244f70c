// ktr-cli for many devices on one bus: scan --all, backup, restore (and
// clone), set-time.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "line_options.h"

namespace ktr::cli {

// backup, restore and set-time.
void AddFleetCommands(CLI::App& app, std::function<int()>& run);

// scan --all: every device on the bus, one line each. Returns the exit code.
int RunScanAll(const LineOptions& line);

}  // namespace ktr::cli
