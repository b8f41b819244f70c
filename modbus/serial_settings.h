// The serial line and device address record: kept by the main window, copied
// by OpenPort.
#pragma once

#include <cstdint>
#include <string>

namespace ktr {

// Whether the line returns the master's own request before the reply (USB
// adapters without echo suppression, transceivers whose receiver stays on
// while sending). Auto learns it per port from the replies to reads.
enum class EchoMode : std::uint8_t { Auto, On, Off };

struct SerialSettings {
  std::uint8_t transport = 0;  // 0: serial line, the only transport
  std::string portName;        // e.g. "ttyUSB0", "/dev/ttyUSB0", "COM3"
  std::int32_t baudRate = 19200;
  std::uint8_t parity = 2;     // 0 none, 1 odd, 2 even
  std::uint8_t stopBits = 0;   // 0 one, 1 one and a half, 2 two
  std::uint8_t dataBits = 8;   // 5 to 8
  std::int32_t timeoutMs = 1000;
  std::string host;            // unused: TCP transport
  std::uint16_t tcpPort = 0;   // unused: TCP transport
  std::uint8_t slaveAddress = 1;
  bool rs485 = false;          // kernel RS-485 direction control (RTS on send)
  EchoMode echo = EchoMode::Auto;
};

}  // namespace ktr
