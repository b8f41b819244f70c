#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ktr_test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReadyWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(10);

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::string MakeTemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ktr-sim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("cannot create a temporary folder: ") + std::strerror(errno));
  }
  return pattern;
}

// Reads the first line from fd within the deadline. Returns false on end of
// file or when the deadline passes.
bool ReadLine(int fd, Clock::time_point deadline, std::string& line) {
  line.clear();
  while (true) {
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

std::string SimProcess::BinaryPath() { return KTR_SIM_PATH; }

SimProcess::SimProcess(std::vector<std::string> args, std::string link) : link_(std::move(link)) {
  const auto port = std::find(args.begin(), args.end(), "--port");
  if (port != args.end() && port + 1 != args.end()) {
    link_ = *(port + 1);
  } else {
    if (link_.empty()) {
      folder_ = MakeTemporaryFolder();
      link_ = folder_ + "/ttyKTR";
    }
    args.push_back("--pty");
    args.push_back(link_);
  }
  args.insert(args.begin(), BinaryPath());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) < 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);  // dup2 clears close-on-exec
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    pid_ = -1;
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
    throw std::runtime_error("cannot start " + BinaryPath() + ": " + std::strerror(rc));
  }

  std::string line;
  const bool got = ReadLine(out[0], Clock::now() + kReadyWait, line);
  close(out[0]);
  if (!got || !line.starts_with("ready ")) {
    const int code = Stop();
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
    throw std::runtime_error("ktr-sim did not become ready (exit status " + std::to_string(code) +
                             ", first line '" + line + "')");
  }
}

SimProcess::~SimProcess() {
  Stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

int SimProcess::Stop() {
  if (pid_ <= 0) return status_;
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + kStopWait;
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
  return status_;
}

}  // namespace ktr_test
