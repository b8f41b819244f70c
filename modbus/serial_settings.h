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

// transport, host and tcpPort follow from portName (SetPortName in
// port_address.h, which the master also applies when it opens).
struct SerialSettings {
  std::uint8_t transport = 0;  // 0 serial line, 1 Modbus TCP, 2 RTU over TCP
  std::string portName;        // e.g. "ttyUSB0", "/dev/ttyUSB0", "COM3", "tcp://10.0.0.5",
                               // "rtu+tcp://gw.local:4001"
  std::int32_t baudRate = 19200;
  std::uint8_t parity = 2;    // 0 none, 1 odd, 2 even
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  std::uint8_t dataBits = 8;  // 5 to 8
  std::int32_t timeoutMs = 1000;
  std::string host;           // TCP: the gateway's name or address
  std::uint16_t tcpPort = 0;  // TCP: the gateway's port
  std::uint8_t slaveAddress = 1;
  bool rs485 = false;  // kernel RS-485 direction control (RTS on send)
  EchoMode echo = EchoMode::Auto;
};

}  // namespace ktr
