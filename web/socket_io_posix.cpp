// POSIX sockets for the HTTP server's connection threads: poll(2) on the
// connection and a pipe that becomes readable when the server stops, and a
// blocking accept4(2) shared by all the threads.
#include "socket_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace ktr::socket_io {

namespace {

int Fd(Handle handle) { return static_cast<int>(handle); }

IoResult Failed() {
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {Io::kWouldBlock, 0};
  return {Io::kFailed, 0};
}

}  // namespace

void CloseSocket(Handle socket) {
  if (socket != kNoSocket) ::close(Fd(socket));
}

StopSignal::~StopSignal() {
  CloseSocket(read_);
  CloseSocket(write_);
}

std::string StopSignal::Open() {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) return std::strerror(errno);
  read_ = pipe[0];
  write_ = pipe[1];
  return {};
}

void StopSignal::Raise() {
  if (write_ == kNoSocket) return;
  // One byte keeps the read end readable for every poll from now on.
  while (::write(Fd(write_), "", 1) < 0 && errno == EINTR) {}
}

IoResult ReceiveSome(Handle socket, char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(Fd(socket), data, size, 0);
    if (n > 0) return {Io::kDone, static_cast<std::size_t>(n)};
    if (n == 0) return {Io::kClosed, 0};
    if (errno != EINTR) return Failed();
  }
}

IoResult SendSome(Handle socket, std::string_view first, std::string_view second) {
  iovec parts[2] = {{const_cast<char*>(first.data()), first.size()},
                    {const_cast<char*>(second.data()), second.size()}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  for (;;) {
    // MSG_NOSIGNAL: a client that has gone gives EPIPE, not SIGPIPE.
    const ssize_t n = ::sendmsg(Fd(socket), &message, MSG_NOSIGNAL);
    if (n >= 0) return {Io::kDone, static_cast<std::size_t>(n)};
    if (errno != EINTR) return Failed();
  }
}

void ShutdownSend(Handle socket) { ::shutdown(Fd(socket), SHUT_WR); }

bool WaitReady(Handle socket, bool forWrite, const StopSignal& stop, Clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    // Rounded up, so that a wait never ends just short of the deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    pollfd fds[2] = {{Fd(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                     {Fd(stop.handle()), POLLIN, 0}};
    const int n = ::poll(fds, 2, static_cast<int>(std::min<std::int64_t>(ms, INT_MAX)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

void Pause(const StopSignal& stop, std::chrono::milliseconds pause) {
  pollfd fd{Fd(stop.handle()), POLLIN, 0};
  ::poll(&fd, 1, static_cast<int>(pause.count()));
}

int PrepareToBind(Handle socket) {
  const int on = 1;
  return ::setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : errno;
}

std::string PrepareListener(Handle listener) {
  // Blocking: the threads sleep in accept() itself, and the kernel wakes one
  // of them per connection.
  const int flags = ::fcntl(Fd(listener), F_GETFL);
  if (flags < 0 || ::fcntl(Fd(listener), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      ::fcntl(Fd(listener), F_SETFD, FD_CLOEXEC) != 0) {
    return std::strerror(errno);
  }
  return {};
}

Accepted Accept(Handle listener, const StopSignal& /*stop: StopAccepting wakes accept*/, Socket& connection) {
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    connection = Socket(fd);
    return Accepted::kConnection;
  }
  switch (errno) {
    // A handshake that broke off, a signal, or (Linux) a network error
    // already pending on the new connection: take the next one.
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH: return Accepted::kRetry;
    default:  // out of descriptors or memory; EINVAL after StopAccepting
      return Accepted::kPause;
  }
}

void StopAccepting(Handle listener) {
  // Linux: shutting a listening socket down wakes every thread blocked in
  // accept() on it (accept fails with EINVAL) and resets the connections
  // still waiting in the backlog.
  if (listener != kNoSocket) ::shutdown(Fd(listener), SHUT_RDWR);
}

}  // namespace ktr::socket_io
