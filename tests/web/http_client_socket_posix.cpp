// ClientSocket on POSIX sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "http_client.h"

namespace ktr::test {

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

ClientSocket::ClientSocket(std::uint16_t port, Loopback loopback) {
  const bool v6 = loopback == Loopback::kIpv6;
  fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_port = htons(port);
  address6.sin6_addr = in6addr_loopback;
  const int rc = v6 ? ::connect(Fd(fd_), reinterpret_cast<const sockaddr*>(&address6), sizeof address6)
                    : ::connect(Fd(fd_), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (rc != 0) {
    const int error = errno;
    ::close(Fd(fd_));
    fd_ = -1;
    throw std::runtime_error(std::string("connect: ") + std::strerror(error));
  }
}

ClientSocket::~ClientSocket() {
  if (fd_ >= 0) ::close(Fd(fd_));
}

bool ClientSocket::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(Fd(fd_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

long ClientSocket::Receive(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::recv(Fd(fd_), buffer, size, 0);
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

bool ClientSocket::WaitReadable(std::chrono::milliseconds timeout) {
  for (;;) {
    pollfd p{Fd(fd_), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready >= 0 || errno != EINTR) return ready > 0;
  }
}

void ClientSocket::ShutdownWrite() { ::shutdown(Fd(fd_), SHUT_WR); }

}  // namespace ktr::test
