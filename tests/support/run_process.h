// Runs a program to completion and collects its exit code and output.
#pragma once

#include <string>
#include <vector>

namespace ktr::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `path` with `args`; a process still running after `timeoutMs` is
// killed (by its PID) and reported with exit code -1.
ProcessResult RunProcess(const std::string& path, const std::vector<std::string>& args,
                         int timeoutMs = 30000);

}  // namespace ktr::test
