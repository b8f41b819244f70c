#include "tcp_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ktr::test {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A socket bound to 127.0.0.1 at a port the system picks.
int BoundSocket(std::uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) Fail("bind");
  socklen_t size = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  *port = ntohs(a.sin_port);
  return fd;
}

// Reads exactly n bytes unless stop is set, the peer closes or 5 s pass.
bool ReadExactly(int fd, std::uint8_t* dest, std::size_t n, const std::atomic<bool>& stop) {
  std::size_t got = 0;
  int idle = 0;
  while (got < n && !stop && idle < 100) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) {
      ++idle;
      continue;
    }
    const ssize_t r = recv(fd, dest + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return got == n;
}

}  // namespace

Bytes Mbap(std::uint16_t transaction, const Bytes& unitAndPdu, std::uint16_t protocol) {
  Bytes b(6 + unitAndPdu.size());
  b[0] = static_cast<std::uint8_t>(transaction >> 8);
  b[1] = static_cast<std::uint8_t>(transaction & 0xFF);
  b[2] = static_cast<std::uint8_t>(protocol >> 8);
  b[3] = static_cast<std::uint8_t>(protocol & 0xFF);
  b[4] = static_cast<std::uint8_t>(unitAndPdu.size() >> 8);
  b[5] = static_cast<std::uint8_t>(unitAndPdu.size() & 0xFF);
  std::copy(unitAndPdu.begin(), unitAndPdu.end(), b.begin() + 6);
  return b;
}

ScriptedGateway::ScriptedGateway(bool rtu, Script script) : rtu_(rtu), script_(std::move(script)) {
  listenFd_ = BoundSocket(&port_);
  if (listen(listenFd_, 8) < 0) Fail("listen");
  thread_ = std::thread([this] { Serve(); });
}

ScriptedGateway::~ScriptedGateway() {
  stop_ = true;
  thread_.join();
  close(listenFd_);
}

std::string ScriptedGateway::portName() const {
  return std::string(rtu_ ? "rtu+tcp://" : "tcp://") + "127.0.0.1:" + std::to_string(port_);
}

std::vector<Bytes> ScriptedGateway::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedGateway::Serve() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    connections_.fetch_add(1);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (bool open = true; open && !stop_;) {
      Bytes request(rtu_ ? 8 : 6);
      if (!ReadExactly(fd, request.data(), request.size(), stop_)) break;
      if (!rtu_) {
        const std::size_t length = static_cast<std::size_t>(request[4] << 8 | request[5]);
        request.resize(6 + length);
        if (!ReadExactly(fd, request.data() + 6, length, stop_)) break;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      const GatewayReply reply = script_(request);
      if (!reply.bytes.empty() && send(fd, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL) < 0) break;
      open = !reply.close;
    }
    close(fd);
  }
}

RefusingPort::RefusingPort() { fd_ = BoundSocket(&port_); }
RefusingPort::~RefusingPort() { close(fd_); }

UnansweredPort::UnansweredPort() {
  listenFd_ = BoundSocket(&port_);
  if (listen(listenFd_, 0) < 0) Fail("listen");
  fillerFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port_);
  if (connect(fillerFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) Fail("connect");
}

UnansweredPort::~UnansweredPort() {
  close(fillerFd_);
  close(listenFd_);
}

}  // namespace ktr::test
