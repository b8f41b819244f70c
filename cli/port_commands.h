// ktr-cli ports: the serial ports the system has.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace ktr::cli {

void AddPortCommands(CLI::App& app, std::function<int()>& run);

}  // namespace ktr::cli
