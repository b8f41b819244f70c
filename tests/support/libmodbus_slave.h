// An independent Modbus RTU slave (libmodbus) serving a register map on the
// master side of a PtyPair, in a thread of the test process.
#pragma once

#include <atomic>
#include <mutex>
#include <cstdint>
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

}  // namespace ktr::test
