// POSIX TCP client socket: getaddrinfo, a non-blocking connect finished by
// poll(2) against the deadline, send/recv with poll for the waits.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tcp_socket.h"

namespace ktr::detail {
namespace {

using Clock = std::chrono::steady_clock;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

SerialErrorKind KindOfErrno(int code) {
  switch (code) {
    case ECONNREFUSED: return SerialErrorKind::Refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL: return SerialErrorKind::Unreachable;
    case ETIMEDOUT: return SerialErrorKind::Timeout;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE: return SerialErrorKind::Disconnected;
    default: return SerialErrorKind::Other;
  }
}

void SetErrno(SerialError& error, int code, const std::string& what) {
  error = {KindOfErrno(code), code, what + ": " + std::strerror(code)};
}

// The numeric form of a resolved address, "127.0.0.1" or "::1".
std::string NumericHost(const addrinfo& a) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* where =
      a.ai_family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a.ai_addr)->sin6_addr)
          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a.ai_addr)->sin_addr);
  return inet_ntop(a.ai_family, where, text, sizeof text) != nullptr ? text : "?";
}

// "connect 127.0.0.1:502", or "connect gw.local (10.0.0.5:502)" for a name.
std::string ConnectText(const std::string& host, std::uint16_t port, const addrinfo& a) {
  const std::string numeric = NumericHost(a);
  if (numeric == host) return "connect " + HostPortText(host, port);
  return "connect " + host + " (" + HostPortText(numeric, port) + ")";
}

}  // namespace

std::string HostPortText(const std::string& host, std::uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool TcpSocket::Connect(const std::string& host, std::uint16_t port, TimePoint deadline, SerialError& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (resolved != 0) {
    const int code = resolved == EAI_SYSTEM ? errno : resolved;
    error = {
        SerialErrorKind::NoHost, code,
        "resolve " + host + ": " + (resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved))};
    return false;
  }

  error = {};
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const std::string what = ConnectText(host, port, *a);
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      SetErrno(error, errno, what);
      continue;
    }
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      // The handshake runs on; poll reports the socket writable once it has
      // ended either way, and SO_ERROR tells which.
      for (;;) {
        const int left = MillisecondsLeft(deadline);
        pollfd p{fd, POLLOUT, 0};
        r = ::poll(&p, 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0 && left > 0) continue;  // woken early
        break;
      }
      if (r == 0) {
        ::close(fd);
        error = {SerialErrorKind::Timeout, ETIMEDOUT, what + ": no answer within the time-out"};
        break;  // the deadline has passed: no time for the other addresses
      }
      int soError = 0;
      socklen_t size = sizeof soError;
      if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) != 0) soError = errno;
      if (soError != 0) {
        SetErrno(error, soError, what);
        ::close(fd);
        continue;
      }
      r = 0;
    }
    if (r != 0) {
      SetErrno(error, errno, what);
      ::close(fd);
      continue;
    }
    // Each request goes out as soon as it is written: Nagle's algorithm would
    // hold a request back while the previous reply's acknowledgement is due.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    handle_ = fd;
    error = {};
    break;
  }
  freeaddrinfo(found);
  return IsOpen();
}

void TcpSocket::Close() {
  if (handle_ != kInvalid) {
    ::close(Fd(handle_));
    handle_ = kInvalid;
  }
}

bool TcpSocket::Send(const std::uint8_t* data, std::size_t length, std::size_t* sent, TimePoint deadline,
                     SerialError& error) {
  *sent = 0;
  if (!IsOpen()) {
    error = {SerialErrorKind::NotOpen, EBADF, "send: not connected"};
    return false;
  }
  while (*sent < length) {
    // MSG_NOSIGNAL: a peer that has gone gives EPIPE here, not SIGPIPE.
    const ssize_t n = ::send(Fd(handle_), data + *sent, length - *sent, MSG_NOSIGNAL);
    if (n > 0) {
      *sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      SetErrno(error, errno, "send");
      return false;
    }
    const int left = MillisecondsLeft(deadline);
    if (left == 0) {
      error = {SerialErrorKind::Timeout, ETIMEDOUT, "send: the connection takes no more bytes"};
      return false;
    }
    pollfd p{Fd(handle_), POLLOUT, 0};
    if (::poll(&p, 1, left) < 0 && errno != EINTR) {
      SetErrno(error, errno, "poll");
      return false;
    }
  }
  return true;
}

bool TcpSocket::Receive(std::uint8_t* dest, std::size_t capacity, std::size_t* received, TimePoint deadline,
                        SerialError& error) {
  *received = 0;
  if (!IsOpen()) {
    error = {SerialErrorKind::NotOpen, EBADF, "recv: not connected"};
    return false;
  }
  for (;;) {
    const int left = MillisecondsLeft(deadline);
    pollfd p{Fd(handle_), POLLIN, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0) {
      if (errno == EINTR) continue;
      SetErrno(error, errno, "poll");
      return false;
    }
    if (r == 0) {
      if (left > 0) continue;  // woken early
      return true;
    }
    const ssize_t n = ::recv(Fd(handle_), dest, capacity, 0);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      error = {SerialErrorKind::Disconnected, 0, "recv: the peer closed the connection"};
      return false;
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    SetErrno(error, errno, "recv");
    if (error.kind == SerialErrorKind::Other) error.kind = SerialErrorKind::Disconnected;
    return false;
  }
}

void TcpSocket::Discard() {
  if (!IsOpen()) return;
  std::uint8_t scratch[512];
  for (;;) {
    const ssize_t n = ::recv(Fd(handle_), scratch, sizeof scratch, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    return;  // nothing more (EAGAIN), or closed: the next receive says so
  }
}

}  // namespace ktr::detail
