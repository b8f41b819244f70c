// POSIX: SIGINT and SIGTERM blocked in every thread and taken with
// sigwait(3); the executable's folder from /proc/self/exe (Linux).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "process.h"

namespace ktr::cli {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void PrepareForStopRequest() {
  // Threads inherit the mask of the thread that starts them, so blocking
  // here, before any thread exists, keeps the signals for sigwait alone.
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string WaitForStopRequest() {
  const sigset_t set = StopSignals();
  int signal = 0;
  sigwait(&set, &signal);
  return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace ktr::cli
