// Winsock 2 for the HTTP server's connection threads: WSAPoll on the
// connection and on a loopback socket pair that becomes readable when the
// server stops, and a non-blocking accept that every thread waits for with
// WSAPoll. Every socket is kept from being inherited by programs the
// application starts (the browser the window opens).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>

#include "socket_io.h"
#include "win_text.h"

namespace ktr::socket_io {

namespace {

SOCKET Sock(Handle handle) { return static_cast<SOCKET>(handle); }

// The system's text for a Winsock error code, as UTF-8.
std::string ErrorText(int code) { return win::SystemErrorText(static_cast<DWORD>(code), "Winsock error"); }

// Winsock must be started in a process before its first socket call.
// WSAStartup counts its callers; this one call is never undone, since
// sockets may live until the process ends.
int StartWinsock() {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

// Not inherited, non-blocking: how every socket here is used.
bool Prepare(SOCKET socket) {
  u_long nonBlocking = 1;
  return SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0) &&
         ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

IoResult Failed() {
  if (WSAGetLastError() == WSAEWOULDBLOCK) return {Io::kWouldBlock, 0};
  return {Io::kFailed, 0};
}

int PollTimeout(Clock::duration left) {
  // Rounded up, so that a wait never ends just short of the deadline.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::clamp<std::int64_t>(ms, 0, INT_MAX));
}

bool SameAddress(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

void CloseSocket(Handle socket) {
  if (socket != kNoSocket) closesocket(Sock(socket));
}

StopSignal::~StopSignal() {
  CloseSocket(read_);
  CloseSocket(write_);
}

// Winsock has no pipes, and WSAPoll watches sockets only: the signal is a
// connected pair of loopback TCP sockets. One byte sent on one end keeps the
// other readable for every wait from then on.
std::string StopSignal::Open() {
  if (const int code = StartWinsock(); code != 0) return ErrorText(code);
  const auto newSocket = [] {
    return static_cast<Handle>(
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  };
  const Socket listener(newSocket());
  write_ = newSocket();  // from here on the destructor closes what is open
  if (listener.get() == kNoSocket || write_ == kNoSocket) return ErrorText(WSAGetLastError());

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port
  int length = sizeof address;
  sockaddr_in writer{};
  int writerLength = sizeof writer;
  if (bind(Sock(listener.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(Sock(listener.get()), 1) != 0 ||
      getsockname(Sock(listener.get()), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(Sock(write_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(Sock(write_), reinterpret_cast<sockaddr*>(&writer), &writerLength) != 0) {
    return ErrorText(WSAGetLastError());
  }
  // Another local program could connect to the brief listener first; take
  // only our own writer's connection.
  for (;;) {
    sockaddr_in peer{};
    length = sizeof peer;
    const SOCKET reader = accept(Sock(listener.get()), reinterpret_cast<sockaddr*>(&peer), &length);
    if (reader == INVALID_SOCKET) return ErrorText(WSAGetLastError());
    if (SameAddress(peer, writer)) {
      read_ = static_cast<Handle>(reader);
      break;
    }
    closesocket(reader);
  }
  if (!Prepare(Sock(read_))) return ErrorText(WSAGetLastError());
  return {};
}

void StopSignal::Raise() {
  if (write_ == kNoSocket) return;
  send(Sock(write_), "", 1, 0);
}

IoResult ReceiveSome(Handle socket, char* data, std::size_t size) {
  const int n = recv(Sock(socket), data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (n > 0) return {Io::kDone, static_cast<std::size_t>(n)};
  if (n == 0) return {Io::kClosed, 0};
  return Failed();
}

IoResult SendSome(Handle socket, std::string_view first, std::string_view second) {
  WSABUF parts[2] = {
      {static_cast<ULONG>(std::min<std::size_t>(first.size(), ULONG_MAX)), const_cast<char*>(first.data())},
      {static_cast<ULONG>(std::min<std::size_t>(second.size(), ULONG_MAX)),
       const_cast<char*>(second.data())}};
  DWORD sent = 0;
  // Windows raises no signal for a peer that has gone: the call fails.
  if (WSASend(Sock(socket), parts, 2, &sent, 0, nullptr, nullptr) != 0) return Failed();
  return {Io::kDone, sent};
}

void ShutdownSend(Handle socket) { shutdown(Sock(socket), SD_SEND); }

bool WaitReady(Handle socket, bool forWrite, const StopSignal& stop, Clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    WSAPOLLFD fds[2] = {{Sock(socket), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0},
                        {Sock(stop.handle()), POLLRDNORM, 0}};
    const int n = WSAPoll(fds, 2, PollTimeout(left));
    if (n == SOCKET_ERROR) return false;
    if (fds[1].revents != 0) return false;
    // POLLERR and POLLHUP come in revents unasked; the next call reports them.
    if (fds[0].revents != 0) return true;
  }
}

void Pause(const StopSignal& stop, std::chrono::milliseconds pause) {
  WSAPOLLFD fd{Sock(stop.handle()), POLLRDNORM, 0};
  if (WSAPoll(&fd, 1, PollTimeout(pause)) == SOCKET_ERROR) Sleep(static_cast<DWORD>(pause.count()));
}

int PrepareToBind(Handle socket) {
  // No other socket may bind this port, on any address, while ours is open.
  const BOOL on = TRUE;
  return setsockopt(Sock(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                    sizeof on) == 0
             ? 0
             : WSAGetLastError();
}

std::string PrepareListener(Handle listener) {
  // Non-blocking: a thread waits for a connection or the stop with WSAPoll,
  // then accepts. Windows has no way to wake a thread blocked in accept()
  // short of closing the socket under it.
  if (const int code = StartWinsock(); code != 0) return ErrorText(code);
  if (!Prepare(Sock(listener))) return ErrorText(WSAGetLastError());
  return {};
}

Accepted Accept(Handle listener, const StopSignal& stop, Socket& connection) {
  for (;;) {
    const SOCKET accepted = accept(Sock(listener), nullptr, nullptr);
    if (accepted != INVALID_SOCKET) {
      connection = Socket(static_cast<Handle>(accepted));
      // An accepted socket takes the listener's blocking mode but not
      // necessarily its inheritance flag: set both.
      if (!Prepare(accepted)) return Accepted::kRetry;
      return Accepted::kConnection;
    }
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK: {
        // Every thread waits on the listener; one of them gets the new
        // connection, the others find nothing and wait again.
        WSAPOLLFD fds[2] = {{Sock(listener), POLLRDNORM, 0}, {Sock(stop.handle()), POLLRDNORM, 0}};
        if (WSAPoll(fds, 2, -1) == SOCKET_ERROR) return Accepted::kPause;
        if (fds[1].revents != 0) return Accepted::kRetry;  // stopping
        continue;
      }
      // A handshake that broke off before it was taken, or a network that
      // went down meanwhile: take the next one.
      case WSAECONNRESET:
      case WSAEINTR:
      case WSAENETDOWN: return Accepted::kRetry;
      default:  // WSAEMFILE, WSAENOBUFS: out of sockets or memory
        return Accepted::kPause;
    }
  }
}

void StopAccepting(Handle /*listener*/) {
  // Nothing more to do here: the raised stop signal has woken every thread
  // waiting in Accept, and the connections still in the backlog are reset
  // when the listener is closed right after the threads end.
}

}  // namespace ktr::socket_io
