#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "serial_line.h"

namespace ktr_sim {
namespace {

constexpr int kBacklog = 16;
constexpr int kAcceptWaitMs = 100;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// "HOST:PORT" or "[IPv6]:PORT" into its two parts; the error text, or
// empty.
std::string SplitAddress(const std::string& address, std::string& host, std::string& port) {
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) {
    return "address '" + address + "' is not HOST:PORT";
  }
  host = address.substr(0, colon);
  port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5 ||
      std::stoul(port) > 65535) {
    return "port '" + port + "' is not a number from 0 to 65535";
  }
  return {};
}

class TcpLine final : public Line {
 public:
  TcpLine(const std::string& address, bool modbusTcp) : modbusTcp_(modbusTcp) {
    std::string host;
    std::string port;
    if (const std::string error = SplitAddress(address, host, port); !error.empty()) {
      throw std::invalid_argument(error);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int r = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); r != 0) {
      throw std::invalid_argument("cannot resolve " + host + ": " + gai_strerror(r));
    }
    const int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd < 0) {
      freeaddrinfo(found);
      ThrowErrno("cannot open a socket");
    }
    listen_ = UniqueFd(fd);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int bound = bind(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (bound < 0) ThrowErrno("cannot listen on " + address);
    if (listen(fd, kBacklog) < 0) ThrowErrno("cannot listen on " + address);

    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) < 0) ThrowErrno("cannot read the port");
    char text[INET6_ADDRSTRLEN] = {};
    unsigned portNumber = 0;
    if (local.ss_family == AF_INET6) {
      const auto& a6 = reinterpret_cast<const sockaddr_in6&>(local);
      inet_ntop(AF_INET6, &a6.sin6_addr, text, sizeof text);
      portNumber = ntohs(a6.sin6_port);
      name_ = std::string("[") + text + "]";
    } else {
      const auto& a4 = reinterpret_cast<const sockaddr_in&>(local);
      inet_ntop(AF_INET, &a4.sin_addr, text, sizeof text);
      portNumber = ntohs(a4.sin_port);
      name_ = text;
    }
    name_ = std::string(modbusTcp ? "tcp://" : "rtu+tcp://") + name_ + ":" + std::to_string(portNumber);
  }

  int fd() const override { return client_.get(); }
  std::string ReadyText() const override { return name_; }
  bool Stream() const override { return true; }
  bool ModbusTcp() const override { return modbusTcp_; }

  bool WaitForPeer() override {
    if (client_.get() >= 0) return true;
    pollfd p{listen_.get(), POLLIN, 0};
    if (poll(&p, 1, kAcceptWaitMs) <= 0) return false;  // none yet, or a signal
    const int fd = accept4(listen_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return false;  // the client gave up meanwhile
    // Each reply goes out when it is written, as a gateway sends it.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    client_ = UniqueFd(fd);
    return true;
  }

  void PeerGone() override { client_ = UniqueFd(); }

 private:
  bool modbusTcp_;
  std::string name_;
  UniqueFd listen_;
  UniqueFd client_;
};

}  // namespace

std::string TcpAddressError(const std::string& address) {
  std::string host;
  std::string port;
  return SplitAddress(address, host, port);
}

std::unique_ptr<Line> ListenTcp(const std::string& address, bool modbusTcp) {
  return std::make_unique<TcpLine>(address, modbusTcp);
}

}  // namespace ktr_sim
