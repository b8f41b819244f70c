// Serves the simulated devices on one line: receives requests with
// libmodbus, lets the addressed device answer and puts the reply, with any
// deliberate fault, on the line. On a Modbus TCP line libmodbus takes the
// MBAP frames and the devices see the RTU request inside, as behind a
// gateway.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "device_registers.h"
#include "ktr_register_map.h"
#include "reply_fault.h"
#include "serial_line.h"

typedef struct _modbus modbus_t;

namespace ktr_sim {

// When a device answers on the address written to its address setting.
enum class Readdress {
  kNever,    // it keeps answering where it started (the default)
  kAtOnce,   // from the reply to the write on
  kOnApply,  // after "Apply configuration" (register 10080 written)
};

struct BusOptions {
  std::vector<std::uint8_t> addresses{1};  // distinct, 1-247; each is one device
  // Except kNever, factory defaults also bring a device back to address 1.
  Readdress readdress = Readdress::kNever;
  ktr::Firmware firmware = ktr::Firmware::kNew;
  ktr::FaultMode fault;  // applied to every reply
  bool verbose = false;  // every request and reply as hex on stderr
  // Wire simulation: when non-zero, the line runs at this baud rate with the
  // framing below: the reply starts after the request's wire time and the
  // device's turnaround, and each of its bytes (and of the echo) is passed
  // on when its last bit would have arrived.
  unsigned wireBaud = 0;
  unsigned turnaroundUs = 2000;
  int dataBits = 8;
  bool parity = true;  // a parity bit (odd or even)
  int stopBits = 1;
};

class BusServer {
 public:
  // Throws std::runtime_error when libmodbus cannot be set up.
  BusServer(Line& line, const BusOptions& options);
  ~BusServer();
  BusServer(const BusServer&) = delete;
  BusServer& operator=(const BusServer&) = delete;

  // Serves requests until stop becomes non-zero (checked at least every
  // 100 ms). Throws std::system_error when the line fails for good.
  void Run(const volatile std::sig_atomic_t& stop);

 private:
  void NewContext();
  void OnFrame(std::span<const std::uint8_t> frame);
  // The request of a Modbus TCP frame: answered under its transaction id.
  void OnAdu(std::span<const std::uint8_t> adu);
  void Send(const Frame& bytes);
  // Sends the bytes paced as the wire would carry them from `start` on.
  void SendOnWire(const Frame& bytes, std::chrono::steady_clock::time_point start);
  std::chrono::nanoseconds CharacterTime() const;
  // After a write `frame` to the device at `address` was answered: moves the
  // device to the address its setting holds, as options_.readdress says.
  void FollowAddressSetting(std::uint8_t address, std::span<const std::uint8_t> frame);
  void Pause(unsigned ms);

  Line& line_;
  BusOptions options_;
  modbus_t* context_ = nullptr;
  int contextFd_ = -1;             // the descriptor context_ serves
  std::uint16_t transaction_ = 0;  // Modbus TCP: of the request being answered
  std::map<std::uint8_t, std::unique_ptr<DeviceRegisters>> devices_;
  std::mt19937 random_;
  const volatile std::sig_atomic_t* stop_ = nullptr;
};

}  // namespace ktr_sim
