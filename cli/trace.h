// ktr-cli --trace: every frame sent and every chunk of bytes received, in
// hex with the local time to the millisecond, on stderr.
#pragma once

#include <CLI/CLI.hpp>

#include "modbus_master.h"

namespace ktr::cli {

// Adds --trace to the app; it may be given before or after the command.
void AddTraceOption(CLI::App& app);

// Sends the master's traffic to stderr when --trace was given.
void AttachTrace(TModbus& master);

// After a failed request, before ClosePort: prints the line errors the
// request caused, when the driver counts them and any happened.
void PrintLineErrors(TModbus& master);

}  // namespace ktr::cli
