#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace ktr::test {
namespace {

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) throw std::runtime_error("tcgetattr failed");
  cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr failed");
}

}  // namespace

PtyPair::PtyPair() {
  char name[128] = {};
  if (openpty(&master_, &slaveKeeper_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
  MakeRaw(master_);
  MakeRaw(slaveKeeper_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  close(slaveKeeper_);
  close(master_);
}

Bytes PtyPair::ReadMaster(std::size_t n, int timeoutMs) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Bytes out;
  while (out.size() < n) {
    std::uint8_t buf[512];
    const ssize_t r = read(master_, buf, std::min(sizeof buf, n - out.size()));
    if (r > 0) {
      out.insert(out.end(), buf, buf + r);
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left));
  }
  return out;
}

Bytes PtyPair::DrainMaster(int quietMs) const {
  Bytes out;
  for (;;) {
    Bytes more = ReadMaster(4096, quietMs);
    if (more.empty()) return out;
    out.insert(out.end(), more.begin(), more.end());
  }
}

void PtyPair::WriteMaster(const Bytes& bytes) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t r = write(master_, bytes.data() + done, bytes.size() - done);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
    } else {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
}

}  // namespace ktr::test
