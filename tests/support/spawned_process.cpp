#include "spawned_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ktr::test {
namespace {

using Clock = std::chrono::steady_clock;

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Reads one line from fd within the deadline; false on end of file or when
// the deadline passes.
bool ReadLine(int fd, Clock::time_point deadline, std::string& line) {
  line.clear();
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

}  // namespace

SpawnedProcess::SpawnedProcess(const std::string& path, std::vector<std::string> args,
                               const std::string& readyPrefix, std::chrono::milliseconds readyWait) {
  args.insert(args.begin(), path);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) < 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);  // dup2 clears close-on-exec
  const int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  stdout_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + path + ": " + std::strerror(rc));
  }

  const bool got = ReadLine(stdout_, Clock::now() + readyWait, readyLine_);
  if (!got || readyLine_.rfind(readyPrefix, 0) != 0) {
    const int code = Stop();
    throw std::runtime_error(path + " did not become ready (exit status " + std::to_string(code) +
                             ", first line '" + readyLine_ + "')");
  }
}

SpawnedProcess::~SpawnedProcess() { Stop(); }

int SpawnedProcess::Stop(int signal) {
  if (pid_ > 0) {
    kill(pid_, signal);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
      kill(pid_, SIGKILL);
      done = waitpid(pid_, &status, 0);
    }
    status_ = done == pid_ ? DecodeStatus(status) : -1;
    pid_ = -1;
  }
  if (stdout_ >= 0) {
    close(stdout_);
    stdout_ = -1;
  }
  return status_;
}

}  // namespace ktr::test
