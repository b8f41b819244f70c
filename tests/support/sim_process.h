// Runs the real ktr-sim binary for a test: on a pseudo-terminal reached
// through a symbolic link in a fresh temporary folder, ready to answer when
// the constructor returns, and stopped (by its PID) when the object goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "spawned_process.h"

namespace ktr::test {

class SimProcess {
 public:
  // Starts ktr-sim with args plus "--pty LINK" and waits (at most 10 s) for
  // its ready line. LINK is link, or when empty "ttyKTR" in a new temporary
  // folder. When args hold "--port DEVICE" nothing is added and link() is
  // DEVICE. With "--tcp ADDR:PORT" or "--rtu-tcp ADDR:PORT" nothing is
  // added and link() is the port name the ready line gives
  // ("tcp://127.0.0.1:40123"; port 0 takes a free one). Throws
  // std::runtime_error, with the exit status, when the
  // simulator ends or stays silent instead; nothing is left running then.
  explicit SimProcess(std::vector<std::string> args = {}, std::string link = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The symbolic link to the simulator's terminal (or its TCP address):
  // the port name to open.
  const std::string& link() const { return link_; }
  // The simulator's process id; -1 once it has been stopped.
  pid_t pid() const { return process_->pid(); }

  // Sends SIGTERM and waits up to 10 s, then SIGKILL. Returns the exit
  // code, or 128 + the signal number if a signal ended it. Later calls
  // return the same value.
  int Stop();

  // Path of the ktr-sim binary the tests run.
  static std::string BinaryPath();

 private:
  std::unique_ptr<ktr::test::SpawnedProcess> process_;
  std::string folder_;  // temporary folder we created, removed at the end
  std::string link_;
};

}  // namespace ktr::test
