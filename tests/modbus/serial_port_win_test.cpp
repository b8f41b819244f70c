// The Win32 serial port where no device is needed: device paths, a port that
// does not exist, and operations on a closed port. Reads and writes on a
// real port are checked by the Wine run of ktr-cli against ktr-sim
// (tests/windows/wine_cli_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "serial_port.h"

namespace {

using ktr::SerialErrorKind;
using ktr::SerialPort;

struct PathCase {
  const char* name;
  const char* path;
  friend void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }
};

class DevicePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(DevicePathTest, PortNameBecomesDevicePath) {
  EXPECT_EQ(SerialPort::DevicePath(GetParam().name), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Cases, DevicePathTest,
                         ::testing::Values(PathCase{"COM3", "\\\\.\\COM3"},
                                           // Two digits: no special handling.
                                           PathCase{"COM12", "\\\\.\\COM12"},
                                           PathCase{"\\\\.\\COM4", "\\\\.\\COM4"}));

TEST(SerialPortWin, MissingPortCannotBeOpened) {
  SerialPort port;
  ktr::LineSettings line;
  EXPECT_EQ(port.Open("COM239", line), SerialPort::kCannotOpen);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::NotFound);
  EXPECT_NE(port.LastError().osCode, 0);
  EXPECT_EQ(port.LastError().message.rfind("CreateFileW \\\\.\\COM239: ", 0), 0u) << port.LastError().message;
}

TEST(SerialPortWin, ClosedPortRefusesIo) {
  SerialPort port;
  const std::uint8_t frame[8] = {1, 3, 0x1F, 0x40, 0, 1, 0x82, 0x0A};
  EXPECT_FALSE(port.Write(frame, sizeof frame));
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::NotOpen);

  std::uint8_t reply[7] = {};
  std::size_t received = 99;
  EXPECT_FALSE(port.Read(reply, sizeof reply, &received));
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::NotOpen);

  port.DiscardInput();  // nothing to drop, no failure
  port.Close();         // closing a closed port is harmless
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
