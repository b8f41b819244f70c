#include "sim_wire.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "sim_process.h"

extern char** environ;

namespace ktr::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void PutWord(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

int Result(int rc) { return rc < 0 ? errno : 0; }

}  // namespace

bool CrcValid(const Bytes& frame) {
  return frame.size() >= 4 && WithCrc(Bytes(frame.begin(), frame.end() - 2)) == frame;
}

Bytes ReadReply(std::uint8_t address, std::uint8_t function, const std::vector<std::uint16_t>& values) {
  Bytes b{address, function, static_cast<std::uint8_t>((2 * values.size()) & 0xFF)};
  for (std::uint16_t v : values) PutWord(b, v);
  return WithCrc(b);
}

Words DefaultWords(ktr::Firmware firmware, ktr::RegisterBlock block) {
  Words values;
  for (std::uint32_t a = block.start; a < block.end(); ++a) {
    values.push_back(ktr::DefaultValue(firmware, static_cast<std::uint16_t>(a)).value());
  }
  return values;
}

std::int64_t ClockSeconds(const Words& clock) {
  std::tm t{};
  t.tm_year = 100 + clock[0];
  t.tm_mon = clock[1] - 1;
  t.tm_mday = clock[2];
  t.tm_hour = clock[3];
  t.tm_min = clock[4];
  t.tm_sec = clock[5];
  return static_cast<std::int64_t>(timegm(&t));
}

RawLine::RawLine(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) Fail("cannot open " + path);
  termios t{};
  if (tcgetattr(fd_, &t) < 0) Fail("tcgetattr " + path);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(fd_, TCSANOW, &t) < 0) Fail("tcsetattr " + path);
  tcflush(fd_, TCIOFLUSH);
}

RawLine::~RawLine() {
  if (fd_ >= 0) close(fd_);
}

void RawLine::Write(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) Fail("write");
    done += static_cast<std::size_t>(n);
  }
}

Bytes RawLine::ReadUpTo(std::size_t n, std::chrono::milliseconds wait) {
  Bytes got;
  const auto deadline = Clock::now() + wait;
  while (got.size() < n) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    std::uint8_t buffer[512];
    const ssize_t r = read(fd_, buffer, std::min(sizeof buffer, n - got.size()));
    if (r > 0) got.insert(got.end(), buffer, buffer + r);
  }
  return got;
}

Bytes RawLine::ReadReply(std::size_t expected, std::chrono::milliseconds wait) {
  Bytes got = ReadUpTo(expected, wait);
  const Bytes more = ReadUntilQuiet(std::chrono::milliseconds(100));
  got.insert(got.end(), more.begin(), more.end());
  return got;
}

Bytes RawLine::ReadUntilQuiet(std::chrono::milliseconds quiet) {
  Bytes got;
  while (true) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) return got;
    std::uint8_t buffer[512];
    const ssize_t r = read(fd_, buffer, sizeof buffer);
    if (r > 0) got.insert(got.end(), buffer, buffer + r);
  }
}

ModbusClient::ModbusClient(const std::string& path, int slave, std::chrono::milliseconds response_timeout) {
  if (path.rfind("tcp://", 0) == 0) {
    // The simulator's ready text: "tcp://127.0.0.1:PORT".
    const std::size_t colon = path.rfind(':');
    ctx_ = modbus_new_tcp(path.substr(6, colon - 6).c_str(), std::stoi(path.substr(colon + 1)));
  } else {
    ctx_ = modbus_new_rtu(path.c_str(), 19200, 'N', 8, 1);
  }
  if (ctx_ == nullptr) Fail("modbus_new");
  const auto ms = response_timeout.count();
  modbus_set_response_timeout(ctx_, static_cast<std::uint32_t>(ms / 1000),
                              static_cast<std::uint32_t>(ms % 1000 * 1000));
  modbus_set_slave(ctx_, slave);
  if (modbus_connect(ctx_) < 0) {
    const std::string reason = modbus_strerror(errno);
    modbus_free(ctx_);
    throw std::runtime_error("cannot connect to " + path + ": " + reason);
  }
}

ModbusClient::~ModbusClient() {
  modbus_close(ctx_);
  modbus_free(ctx_);
}

void ModbusClient::SetSlave(int slave) { modbus_set_slave(ctx_, slave); }

int ModbusClient::Read(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>& values) {
  values.assign(count, 0);
  return Result(modbus_read_registers(ctx_, start, count, values.data()));
}

int ModbusClient::ReadInput(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>& values) {
  values.assign(count, 0);
  return Result(modbus_read_input_registers(ctx_, start, count, values.data()));
}

int ModbusClient::WriteSingle(std::uint16_t reg, std::uint16_t value) {
  return Result(modbus_write_register(ctx_, reg, value));
}

int ModbusClient::WriteMultiple(std::uint16_t start, const std::vector<std::uint16_t>& values) {
  return Result(modbus_write_registers(ctx_, start, static_cast<int>(values.size()), values.data()));
}

RunResult RunSimToExit(const std::vector<std::string>& args) {
  std::vector<std::string> all{SimProcess::BinaryPath()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  int err[2];
  if (pipe2(err, O_CLOEXEC) < 0) Fail("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(err[1]);
  if (rc != 0) {
    close(err[0]);
    errno = rc;
    Fail("cannot start ktr-sim");
  }

  RunResult result;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    pollfd p{err[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(err[0], buffer, sizeof buffer);
    if (n <= 0) break;  // end of file: the simulator has closed stderr
    result.stderr_text.append(buffer, static_cast<std::size_t>(n));
  }
  close(err[0]);
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    // Still running after the wait: stop it by its id.
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return result;
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace ktr::test
