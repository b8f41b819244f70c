// A TCP client connection for the master's network links: connect within a
// deadline, send and receive against deadlines, drop what has arrived. The
// POSIX and Winsock implementations live in their own source files, chosen by
// the build; this header holds no OS types.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport.h"

namespace ktr::detail {

class TcpSocket {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  TcpSocket() = default;
  ~TcpSocket() { Close(); }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Resolves `host` and tries its addresses in turn until one accepts the
  // connection or `deadline` has passed; the connection then sends each
  // write at once (TCP_NODELAY). An open connection is closed first. On
  // failure `error` says why (NoHost, Refused, Unreachable, Timeout, ...)
  // with the address tried, and the socket is left closed.
  [[nodiscard]] bool Connect(const std::string& host, std::uint16_t port, TimePoint deadline,
                             SerialError& error);

  void Close();
  bool IsOpen() const { return handle_ != kInvalid; }

  // Sends all bytes before `deadline`. *sent is what went out.
  [[nodiscard]] bool Send(const std::uint8_t* data, std::size_t length, std::size_t* sent, TimePoint deadline,
                          SerialError& error);

  // Waits until bytes arrive or `deadline` has passed, then takes what has
  // arrived, up to `capacity`; *received is 0 when the deadline came first.
  // False when the connection failed or the peer closed it (Disconnected).
  [[nodiscard]] bool Receive(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                             TimePoint deadline, SerialError& error);

  // Reads and drops whatever has arrived, without waiting.
  void Discard();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
};

// "HOST:PORT" as a message shows an address: "[::1]:502" for IPv6.
std::string HostPortText(const std::string& host, std::uint16_t port);

}  // namespace ktr::detail
