// What a port name asks for: a serial port ("ttyUSB0", "/dev/ttyUSB0",
// "COM3"), a Modbus TCP gateway ("tcp://HOST[:PORT]", port 502 when none is
// given) or a transparent gateway that carries the RTU frames of the line
// over a TCP stream ("rtu+tcp://HOST:PORT"). One pure parser, used by every
// place that takes a port name and again by the master when it opens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "serial_settings.h"

namespace ktr {

// Values of SerialSettings::transport.
inline constexpr std::uint8_t kTransportSerial = 0;
inline constexpr std::uint8_t kTransportModbusTcp = 1;
inline constexpr std::uint8_t kTransportRtuOverTcp = 2;

// The registered port of Modbus TCP.
inline constexpr std::uint16_t kModbusTcpPort = 502;

struct PortAddress {
  std::uint8_t transport = kTransportSerial;
  std::string host;           // TCP: a name, an IPv4 address or an IPv6 address (no brackets)
  std::uint16_t tcpPort = 0;  // TCP: 1-65535
  std::string error;          // empty when the name is good
};

// Parses a port name. A name with "://" is a network address and must be
// one of the two forms above: scheme in lower or upper case, a host of
// letters, digits, '.', '-' and '_' (or an IPv6 address in brackets), a port
// of 1-65535, nothing after it. Anything without "://" is a serial port
// name, taken as it is (the serial port judges it when it opens). `error`
// says what is wrong, quoting the name.
PortAddress ParsePortAddress(std::string_view name);

// Sets portName and, from it, transport, host and tcpPort (empty and 0 for
// a serial port). Returns ParsePortAddress's error; the record then has the
// name and the serial transport.
[[nodiscard]] std::string SetPortName(SerialSettings& settings, const std::string& name);

// True for the two TCP transports.
inline bool IsTcpTransport(std::uint8_t transport) {
  return transport == kTransportModbusTcp || transport == kTransportRtuOverTcp;
}

}  // namespace ktr
