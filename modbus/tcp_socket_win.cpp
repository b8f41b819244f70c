// Winsock TCP client socket: getaddrinfo, a non-blocking connect finished by
// select() against the deadline (a failed connect shows in the exception
// set, where WSAPoll of older Windows versions did not report it at all),
// send/recv with select() for the waits.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tcp_socket.h"
#include "win_text.h"

namespace ktr::detail {
namespace {

using Clock = std::chrono::steady_clock;

SOCKET Sock(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

// Once per process, before the first socket; never undone, like the
// process's other Winsock users.
int StartWinsock() {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

timeval TimeLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
  timeval tv{};
  if (left > 0) {
    tv.tv_sec = static_cast<long>(left / 1000000);
    tv.tv_usec = static_cast<long>(left % 1000000);
  }
  return tv;
}

SerialErrorKind KindOfWsaError(int code) {
  switch (code) {
    case WSAECONNREFUSED: return SerialErrorKind::Refused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
    case WSAEADDRNOTAVAIL: return SerialErrorKind::Unreachable;
    case WSAETIMEDOUT: return SerialErrorKind::Timeout;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN: return SerialErrorKind::Disconnected;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
    case WSANO_RECOVERY: return SerialErrorKind::NoHost;
    default: return SerialErrorKind::Other;
  }
}

void SetWsaError(SerialError& error, int code, const std::string& what) {
  error = {KindOfWsaError(code), code, what + ": " + win::SystemErrorText(static_cast<DWORD>(code))};
}

std::string NumericHost(const addrinfo& a) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* where =
      a.ai_family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a.ai_addr)->sin6_addr)
          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a.ai_addr)->sin_addr);
  return inet_ntop(a.ai_family, where, text, sizeof text) != nullptr ? text : "?";
}

std::string ConnectText(const std::string& host, std::uint16_t port, const addrinfo& a) {
  const std::string numeric = NumericHost(a);
  if (numeric == host) return "connect " + HostPortText(host, port);
  return "connect " + host + " (" + HostPortText(numeric, port) + ")";
}

// Waits until the socket is readable (or writable), or the deadline has
// passed. 1: ready, 0: the deadline came, -1: select failed. `failed` is set
// when the socket landed in the exception set (a connect that failed).
int Wait(SOCKET s, bool write, Clock::time_point deadline, bool* failed = nullptr) {
  for (;;) {
    fd_set ready;
    fd_set broken;
    FD_ZERO(&ready);
    FD_ZERO(&broken);
    FD_SET(s, &ready);
    FD_SET(s, &broken);
    timeval tv = TimeLeft(deadline);
    const bool last = tv.tv_sec == 0 && tv.tv_usec == 0;
    const int r = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &broken, &tv);
    if (r == SOCKET_ERROR) return -1;
    if (r > 0) {
      if (failed != nullptr) *failed = FD_ISSET(s, &broken) != 0;
      return 1;
    }
    if (last || Clock::now() >= deadline) return 0;
  }
}

}  // namespace

std::string HostPortText(const std::string& host, std::uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool TcpSocket::Connect(const std::string& host, std::uint16_t port, TimePoint deadline, SerialError& error) {
  Close();
  if (const int started = StartWinsock(); started != 0) {
    SetWsaError(error, started, "WSAStartup");
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); code != 0) {
    SetWsaError(error, code, "resolve " + host);
    error.kind = SerialErrorKind::NoHost;
    return false;
  }

  error = {};
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const std::string what = ConnectText(host, port, *a);
    const SOCKET s =
        WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
      SetWsaError(error, WSAGetLastError(), what);
      continue;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    bool connected = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
    int code = connected ? 0 : WSAGetLastError();
    if (!connected && code == WSAEWOULDBLOCK) {
      bool failed = false;
      const int r = Wait(s, true, deadline, &failed);
      if (r == 0) {
        closesocket(s);
        error = {SerialErrorKind::Timeout, WSAETIMEDOUT, what + ": no answer within the time-out"};
        break;  // the deadline has passed: no time for the other addresses
      }
      int soError = 0;
      int size = sizeof soError;
      if (r < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size) != 0) {
        soError = WSAGetLastError();
      }
      if (soError == 0 && failed) soError = WSAECONNREFUSED;
      connected = soError == 0;
      code = soError;
    }
    if (!connected) {
      SetWsaError(error, code, what);
      closesocket(s);
      continue;
    }
    // Each request goes out as soon as it is written: Nagle's algorithm would
    // hold a request back while the previous reply's acknowledgement is due.
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    handle_ = static_cast<std::intptr_t>(s);
    error = {};
    break;
  }
  freeaddrinfo(found);
  return IsOpen();
}

void TcpSocket::Close() {
  if (handle_ != kInvalid) {
    closesocket(Sock(handle_));
    handle_ = kInvalid;
  }
}

bool TcpSocket::Send(const std::uint8_t* data, std::size_t length, std::size_t* sent, TimePoint deadline,
                     SerialError& error) {
  *sent = 0;
  if (!IsOpen()) {
    error = {SerialErrorKind::NotOpen, WSAENOTSOCK, "send: not connected"};
    return false;
  }
  while (*sent < length) {
    const int n =
        send(Sock(handle_), reinterpret_cast<const char*>(data + *sent), static_cast<int>(length - *sent), 0);
    if (n > 0) {
      *sent += static_cast<std::size_t>(n);
      continue;
    }
    const int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
      SetWsaError(error, code, "send");
      return false;
    }
    const int r = Wait(Sock(handle_), true, deadline);
    if (r == 0) {
      error = {SerialErrorKind::Timeout, WSAETIMEDOUT, "send: the connection takes no more bytes"};
      return false;
    }
    if (r < 0) {
      SetWsaError(error, WSAGetLastError(), "select");
      return false;
    }
  }
  return true;
}

bool TcpSocket::Receive(std::uint8_t* dest, std::size_t capacity, std::size_t* received, TimePoint deadline,
                        SerialError& error) {
  *received = 0;
  if (!IsOpen()) {
    error = {SerialErrorKind::NotOpen, WSAENOTSOCK, "recv: not connected"};
    return false;
  }
  for (;;) {
    const int r = Wait(Sock(handle_), false, deadline);
    if (r == 0) return true;
    if (r < 0) {
      SetWsaError(error, WSAGetLastError(), "select");
      return false;
    }
    const int n = recv(Sock(handle_), reinterpret_cast<char*>(dest), static_cast<int>(capacity), 0);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      error = {SerialErrorKind::Disconnected, 0, "recv: the peer closed the connection"};
      return false;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINTR) continue;
    SetWsaError(error, code, "recv");
    if (error.kind == SerialErrorKind::Other) error.kind = SerialErrorKind::Disconnected;
    return false;
  }
}

void TcpSocket::Discard() {
  if (!IsOpen()) return;
  char scratch[512];
  // The socket is non-blocking: recv returns WSAEWOULDBLOCK once nothing
  // more has arrived.
  while (recv(Sock(handle_), scratch, sizeof scratch, 0) > 0) {}
}

}  // namespace ktr::detail
