// A program started for a test that keeps running beside it: it is ready
// when its first stdout line starts with a given prefix, and it is stopped by
// its PID (SIGTERM, then SIGKILL) when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace ktr::test {

class SpawnedProcess {
 public:
  // Starts `path` with `args`; waits up to `readyWait` for the first stdout
  // line and checks that it starts with `readyPrefix`. Throws
  // std::runtime_error (and leaves nothing running) otherwise.
  SpawnedProcess(const std::string& path, std::vector<std::string> args, const std::string& readyPrefix,
                 std::chrono::milliseconds readyWait = std::chrono::seconds(10));
  ~SpawnedProcess();
  SpawnedProcess(const SpawnedProcess&) = delete;
  SpawnedProcess& operator=(const SpawnedProcess&) = delete;

  const std::string& readyLine() const { return readyLine_; }
  pid_t pid() const { return pid_; }

  // Sends `signal` (SIGTERM by default), waits up to 10 s, then SIGKILL.
  // Returns the exit code, or 128 + the signal that ended it. Later calls
  // return the same value.
  int Stop(int signal = 15);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int stdout_ = -1;  // kept open so that later writes never raise SIGPIPE
  std::string readyLine_;
};

}  // namespace ktr::test
