#include "libmodbus_slave.h"

#include <modbus.h>

#include <cerrno>
#include <stdexcept>

namespace ktr::test {

LibmodbusSlave::LibmodbusSlave(const PtyPair& pty, int slaveAddress, int registerCount) {
  // The device path is never opened: the context serves the pty master
  // through modbus_set_socket.
  ctx_ = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
  map_ = modbus_mapping_new(registerCount, registerCount, registerCount, registerCount);
  if (ctx_ == nullptr || map_ == nullptr) throw std::runtime_error("libmodbus setup failed");
  modbus_set_slave(ctx_, slaveAddress);
  modbus_set_socket(ctx_, pty.master());
  // A short response time-out keeps libmodbus from swallowing the next frame
  // after a request for another address; the indication time-out lets the
  // loop see the stop flag.
  modbus_set_response_timeout(ctx_, 0, 1000);
  modbus_set_indication_timeout(ctx_, 0, 50000);
  thread_ = std::thread([this] { Serve(); });
}

LibmodbusSlave::~LibmodbusSlave() {
  stop_ = true;
  thread_.join();
  modbus_mapping_free(map_);
  modbus_free(ctx_);  // the fd belongs to the PtyPair: not closed here
}

void LibmodbusSlave::SetRegister(int address, std::uint16_t value) {
  std::lock_guard<std::mutex> lock(mapMutex_);
  map_->tab_registers[address] = value;
}

std::uint16_t LibmodbusSlave::Register(int address) const {
  std::lock_guard<std::mutex> lock(mapMutex_);
  return map_->tab_registers[address];
}

void LibmodbusSlave::Serve() {
  std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  while (!stop_) {
    const int n = modbus_receive(ctx_, query);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(mapMutex_);
      modbus_reply(ctx_, query, n, map_);
      served_.fetch_add(1);
    }
  }
}

}  // namespace ktr::test
