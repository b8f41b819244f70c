// Loopback TCP peers for the master's network links, each on 127.0.0.1 at a
// port the system picks: a gateway that answers each request with bytes the
// test chooses (or none, or a closed connection), a port where nothing
// listens, and a port whose listen queue is full (a connect there never
// completes).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_hex.h"

namespace ktr::test {

struct GatewayReply {
  Bytes bytes;         // sent back at once (empty: nothing)
  bool close = false;  // then the connection is closed
};

class ScriptedGateway {
 public:
  // Requests are split as Modbus TCP frames (by the header's length), or
  // with rtu as 8-byte RTU requests (reads and single writes).
  using Script = std::function<GatewayReply(const Bytes& request)>;
  ScriptedGateway(bool rtu, Script script);
  ~ScriptedGateway();
  ScriptedGateway(const ScriptedGateway&) = delete;
  ScriptedGateway& operator=(const ScriptedGateway&) = delete;

  std::uint16_t port() const { return port_; }
  // "tcp://127.0.0.1:PORT" or "rtu+tcp://127.0.0.1:PORT".
  std::string portName() const;
  std::vector<Bytes> Requests() const;
  int Connections() const { return connections_.load(); }

 private:
  void Serve();

  bool rtu_;
  Script script_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

// A port that refuses connections: a socket bound to it that does not
// listen, so that no other program can take the port meanwhile.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A port whose listen queue (backlog 0) is full with a connection of our
// own that nobody accepts: Linux drops the SYN of any further connect, which
// then waits without an answer.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int listenFd_ = -1;
  int fillerFd_ = -1;
  std::uint16_t port_ = 0;
};

// A Modbus TCP frame: transaction id, protocol id, the length of unit id
// and PDU, unit id, PDU.
Bytes Mbap(std::uint16_t transaction, const Bytes& unitAndPdu, std::uint16_t protocol = 0);

}  // namespace ktr::test
