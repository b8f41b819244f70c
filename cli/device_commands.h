// ktr-cli scan and serve: the device search and the headless web server.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace ktr::cli {

void AddDeviceCommands(CLI::App& app, std::function<int()>& run);

}  // namespace ktr::cli
