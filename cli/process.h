// The parts of ktr-cli that differ per operating system, one source file
// each (process_posix.cpp, process_win.cpp): how a running server is asked
// to stop, where the executable lives, and the local time of day.
#pragma once

#include <ctime>
#include <string>

namespace ktr::cli {

// Makes the stop requests (Ctrl+C, and on POSIX SIGTERM, on Windows
// Ctrl+Break and closing the console) reach WaitForStopRequest instead of
// ending the process. Call before any thread starts.
void PrepareForStopRequest();

// Blocks until a stop is requested; returns what asked, for the log
// ("SIGINT", "SIGTERM", "Ctrl+C", ...).
std::string WaitForStopRequest();

// The folder that holds the running executable; empty when unknown.
std::string ExecutableFolder();

// `t` broken down in the local time zone.
std::tm LocalTime(std::time_t t);

// True when stderr is a terminal (progress lines are shown there only).
bool StderrIsTerminal();

}  // namespace ktr::cli
