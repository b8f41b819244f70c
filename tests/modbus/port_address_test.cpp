// Port names: serial ports pass through, tcp:// and rtu+tcp:// addresses are
// split into transport, host and port, and malformed ones are refused with
// the reason.
#include <gtest/gtest.h>

#include <string>

#include "port_address.h"

namespace {

struct AddressCase {
  const char* name;
  std::uint8_t transport;
  const char* host;
  std::uint16_t port;
  const char* error;  // part of the error text; empty for a good name
  friend void PrintTo(const AddressCase& c, std::ostream* os) { *os << "'" << c.name << "'"; }
};

class PortAddresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(PortAddresses, Parse) {
  const AddressCase& c = GetParam();
  const ktr::PortAddress a = ktr::ParsePortAddress(c.name);
  if (*c.error == '\0') {
    EXPECT_EQ(a.error, "");
  } else {
    EXPECT_EQ(a.error, "bad port address '" + std::string(c.name) + "': " + c.error);
  }
  EXPECT_EQ(a.transport, c.transport);
  EXPECT_EQ(a.host, c.host);
  EXPECT_EQ(a.tcpPort, c.port);
}

constexpr std::uint8_t kSerial = ktr::kTransportSerial;
constexpr std::uint8_t kTcp = ktr::kTransportModbusTcp;
constexpr std::uint8_t kRtuTcp = ktr::kTransportRtuOverTcp;

INSTANTIATE_TEST_SUITE_P(
    Names, PortAddresses,
    ::testing::Values(
        AddressCase{"ttyUSB0", kSerial, "", 0, ""},
        AddressCase{"/dev/serial/by-id/usb-FTDI:x", kSerial, "", 0, ""},
        AddressCase{"COM12", kSerial, "", 0, ""}, AddressCase{"", kSerial, "", 0, ""},
        AddressCase{"tcp://10.0.0.5", kTcp, "10.0.0.5", 502, ""},
        AddressCase{"tcp://gw-1.plant_a.local:1502", kTcp, "gw-1.plant_a.local", 1502, ""},
        AddressCase{"TCP://localhost:65535", kTcp, "localhost", 65535, ""},
        AddressCase{"tcp://[::1]:5020", kTcp, "::1", 5020, ""},
        AddressCase{"tcp://[fe80::1]", kTcp, "fe80::1", 502, ""},
        AddressCase{"rtu+tcp://127.0.0.1:4001", kRtuTcp, "127.0.0.1", 4001, ""},
        AddressCase{"tcp://", kSerial, "", 0, "no host name (tcp://HOST[:PORT])"},
        AddressCase{"tcp://:502", kSerial, "", 0, "no host name (tcp://HOST[:PORT])"},
        AddressCase{"tcp://host:0", kSerial, "", 0, "port 0 is out of range (1-65535)"},
        AddressCase{"tcp://host:99999", kSerial, "", 0, "port 99999 is out of range (1-65535)"},
        AddressCase{"tcp://host:65536", kSerial, "", 0, "port 65536 is out of range (1-65535)"},
        AddressCase{"tcp://host:0502", kTcp, "host", 502, ""},
        AddressCase{"tcp://host:6553600000000000000005", kSerial, "", 0,
                    "port 6553600000000000000005 is out of range (1-65535)"},
        AddressCase{"tcp://host:", kSerial, "", 0, "no port number after ':' (tcp://HOST[:PORT])"},
        AddressCase{"tcp://host:50x", kSerial, "", 0, "port '50x' is not a number (1-65535)"},
        AddressCase{"tcp://host:-1", kSerial, "", 0, "port '-1' is not a number (1-65535)"},
        AddressCase{"tcp://host:502/", kSerial, "", 0, "port '502/' is not a number (1-65535)"},
        AddressCase{"rtu+tcp://host", kSerial, "", 0, "no port number (rtu+tcp://HOST:PORT)"},
        AddressCase{"tcp://gate way:502", kSerial, "", 0, "a space in the host name 'gate way'"},
        AddressCase{"tcp://gw;rm:502", kSerial, "", 0, "';' in the host name 'gw;rm'"},
        AddressCase{"tcp://user@gw", kSerial, "", 0, "'@' in the host name 'user@gw'"},
        AddressCase{"tcp://gw\x01", kSerial, "", 0, "byte 0x01 in the host name 'gw\x01'"},
        AddressCase{"tcp://::1:502", kSerial, "", 0,
                    "an IPv6 address goes in brackets, e.g. tcp://[::1]:502"},
        AddressCase{"tcp://[::1", kSerial, "", 0, "'[' without ']' around the IPv6 address"},
        AddressCase{"tcp://[]:502", kSerial, "", 0, "no address between '[' and ']'"},
        AddressCase{"tcp://[::g]:502", kSerial, "", 0, "'g' in the IPv6 address '::g'"},
        AddressCase{"tcp://[::1]x", kSerial, "", 0, "'x' after the IPv6 address"},
        AddressCase{
            "udp://host:502", kSerial, "", 0,
            "unknown scheme 'udp://' (use tcp://HOST[:PORT] for Modbus TCP or rtu+tcp://HOST:PORT for "
            "RTU over TCP)"},
        AddressCase{
            "rtu-tcp://host:502", kSerial, "", 0,
            "unknown scheme 'rtu-tcp://' (use tcp://HOST[:PORT] for Modbus TCP or rtu+tcp://HOST:PORT "
            "for RTU over TCP)"}));

TEST(PortAddresses, LongestHostNameIsTaken) {
  const std::string longest(253, 'a');
  EXPECT_EQ(ktr::ParsePortAddress("tcp://" + longest).error, "");
  EXPECT_NE(ktr::ParsePortAddress("tcp://" + longest + "a").error.find("longer than 253"), std::string::npos);
}

TEST(PortAddresses, SetPortNameFillsTheRecordFromTheName) {
  ktr::SerialSettings s;
  EXPECT_EQ(ktr::SetPortName(s, "rtu+tcp://gw:4001"), "");
  EXPECT_EQ(s.portName, "rtu+tcp://gw:4001");
  EXPECT_EQ(s.transport, kRtuTcp);
  EXPECT_EQ(s.host, "gw");
  EXPECT_EQ(s.tcpPort, 4001);
  // Back to a serial port: the network fields are cleared.
  EXPECT_EQ(ktr::SetPortName(s, "ttyUSB0"), "");
  EXPECT_EQ(s.transport, kSerial);
  EXPECT_EQ(s.host, "");
  EXPECT_EQ(s.tcpPort, 0);
  // A bad address keeps the name (it is shown back) on the serial transport.
  EXPECT_NE(ktr::SetPortName(s, "tcp://"), "");
  EXPECT_EQ(s.portName, "tcp://");
  EXPECT_EQ(s.transport, kSerial);
}

}  // namespace
