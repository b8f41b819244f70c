// An independent Modbus RTU slave (libmodbus) serving a register map on the
// master side of a PtyPair, in a thread of the test process.
#pragma once

#include <atomic>
#include <mutex>
#include <cstdint>
#include <string>
#include <thread>

#include "pty_pair.h"

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace ktr::test {

class LibmodbusSlave {
 public:
  // Holding registers 0..registerCount-1 start at 0; bits likewise.
  LibmodbusSlave(const PtyPair& pty, int slaveAddress, int registerCount);
  ~LibmodbusSlave();
  LibmodbusSlave(const LibmodbusSlave&) = delete;
  LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

  void SetRegister(int address, std::uint16_t value);
  std::uint16_t Register(int address) const;
  // Number of requests answered.
  int Served() const { return served_.load(); }

 private:
  void Serve();

  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* map_ = nullptr;
  mutable std::mutex mapMutex_;  // the map is written by replies to writes
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::thread thread_;
};

// An independent Modbus TCP server (libmodbus) on 127.0.0.1, a port the
// system picks, in a thread of the test process. It serves one client
// connection at a time, as long as the client keeps it. With rtuOverTcp the
// connection carries RTU frames instead (a libmodbus RTU context on the
// accepted socket), as a transparent gateway passes them.
class LibmodbusTcpServer {
 public:
  LibmodbusTcpServer(int registerCount, bool rtuOverTcp = false, int slaveAddress = 1);
  ~LibmodbusTcpServer();
  LibmodbusTcpServer(const LibmodbusTcpServer&) = delete;
  LibmodbusTcpServer& operator=(const LibmodbusTcpServer&) = delete;

  // The port name that reaches it: "tcp://127.0.0.1:PORT" or
  // "rtu+tcp://127.0.0.1:PORT".
  const std::string& portName() const { return portName_; }
  std::uint16_t port() const { return port_; }

  void SetRegister(int address, std::uint16_t value);
  std::uint16_t Register(int address) const;
  int Served() const { return served_.load(); }
  // Connections accepted so far.
  int Connections() const { return connections_.load(); }

 private:
  void Serve();

  bool rtuOverTcp_;
  int slaveAddress_;
  modbus_t* listener_ = nullptr;  // TCP context that owns the listening socket
  int listenFd_ = -1;
  modbus_mapping_t* map_ = nullptr;
  mutable std::mutex mapMutex_;
  std::uint16_t port_ = 0;
  std::string portName_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace ktr::test
