// ktr-cli read and write: holding registers through the master.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <vector>

#include "line_options.h"

namespace ktr::cli {

// Registers `read` and `write` on the app. Each sets `run` to the action to
// perform once parsing has succeeded; the action returns the exit code.
void AddRegisterCommands(CLI::App& app, std::function<int()>& run);

}  // namespace ktr::cli
