// ktr-cli ports and diag: the serial ports the system has, and what the
// system says about one of them.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace ktr::cli {

// Where the system describes its ports; the defaults are the system's own
// folders, tests point them at made-up trees.
struct SystemFolders {
  std::string ports;  // sysfs tty class folder (Linux) or registry key (Windows)
  std::string byId;   // stable names (Linux /dev/serial/by-id)
  std::string proc;   // process table (Linux /proc)
};

// Adds the options that move SystemFolders (hidden from the help).
void AddSystemFolderOptions(CLI::App& command, SystemFolders& folders);

void AddPortCommands(CLI::App& app, std::function<int()>& run);

// ktr-cli diag (diag_command.cpp).
void AddDiagCommand(CLI::App& app, std::function<int()>& run);

}  // namespace ktr::cli
