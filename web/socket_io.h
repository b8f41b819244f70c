// The socket calls of the HTTP server's connection threads, one
// implementation per platform (socket_io_posix.cpp, socket_io_win.cpp):
// non-blocking reads and writes of an accepted connection, waits that a stop
// of the server cuts short, and the accept loop's accept.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ktr::socket_io {

using Clock = std::chrono::steady_clock;

// A descriptor (POSIX) or a SOCKET (Windows; INVALID_SOCKET is ~0, i.e. -1).
using Handle = std::intptr_t;
constexpr Handle kNoSocket = -1;

// Closes `socket` (kNoSocket: nothing).
void CloseSocket(Handle socket);

// An owned socket.
class Socket {
 public:
  Socket() = default;
  explicit Socket(Handle handle) : handle_(handle) {}
  ~Socket() { CloseSocket(handle_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoSocket; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      CloseSocket(handle_);
      handle_ = other.handle_;
      other.handle_ = kNoSocket;
    }
    return *this;
  }
  Handle get() const { return handle_; }

 private:
  Handle handle_ = kNoSocket;
};

// Set once when the server stops; it wakes every wait of every thread and
// stays set.
class StopSignal {
 public:
  StopSignal() = default;
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Sets up what the waits watch. Empty on success, else the system's reason.
  [[nodiscard]] std::string Open();
  void Raise();
  // What the waits watch (readable once raised).
  Handle handle() const { return read_; }

 private:
  Handle read_ = kNoSocket;
  Handle write_ = kNoSocket;
};

enum class Io {
  kDone,        // `bytes` moved
  kWouldBlock,  // nothing now: wait and try again
  kClosed,      // the peer ended its sending side (reads only)
  kFailed,      // the connection broke
};

struct IoResult {
  Io status;
  std::size_t bytes;
};

// Reads what has arrived, at most `size` bytes, without blocking.
[[nodiscard]] IoResult ReceiveSome(Handle socket, char* data, std::size_t size);
// Writes as much of `first` and then `second` as the socket takes now, in one
// system call. A peer that has gone gives kFailed, never a signal.
[[nodiscard]] IoResult SendSome(Handle socket, std::string_view first, std::string_view second);
// Ends the sending side; the peer reads the end of the stream.
void ShutdownSend(Handle socket);

// Waits until `socket` can be read (or written, `forWrite`); an error or
// hang-up counts as ready, the next call reports it. False when the deadline
// passes, the server stops or the wait itself fails.
[[nodiscard]] bool WaitReady(Handle socket, bool forWrite, const StopSignal& stop,
                             Clock::time_point deadline);
// Waits `pause`, or until the server stops.
void Pause(const StopSignal& stop, std::chrono::milliseconds pause);

// Sets up who else may bind the listening socket's port, between open and
// bind. POSIX: SO_REUSEADDR, so that a restarted server binds its port while
// connections of the previous run are still in TIME_WAIT (the server closes
// first, so they are on our side); it never lets two listeners share a port.
// Windows: SO_EXCLUSIVEADDRUSE; there SO_REUSEADDR would let another program
// bind the same port and take connections over, and without either option a
// program could still bind a more specific address over ours. Returns 0, or
// the system's error code (errno, or the Winsock error).
[[nodiscard]] int PrepareToBind(Handle socket);

// Takes over a listening socket set up by Asio for the accept loop: as
// Accept needs it, and not inherited by programs the application starts (a
// browser the window opens would otherwise keep the port bound after we
// exit). Empty on success, else the system's reason.
[[nodiscard]] std::string PrepareListener(Handle listener);

enum class Accepted {
  kConnection,  // the returned socket: non-blocking, not inherited
  kRetry,       // a handshake that broke off or a signal: accept the next one
  kPause,       // out of descriptors or memory: retry after a pause
};

// Waits for the next connection on `listener` (or the stop: then kRetry,
// and the caller sees the stop).
[[nodiscard]] Accepted Accept(Handle listener, const StopSignal& stop, Socket& connection);
// Wakes every thread waiting in Accept on `listener` and resets the
// connections still waiting in its backlog. Call after stop.Raise().
void StopAccepting(Handle listener);

}  // namespace ktr::socket_io
