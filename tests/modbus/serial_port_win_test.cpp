// The Win32 serial port where no device is needed: device paths, a port that
// does not exist, and operations on a closed port. Reads and writes on a
// real port are checked by the Wine run of ktr-cli against ktr-sim
// (tests/windows/wine_cli_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "serial_port.h"
#include "serial_port_win_dcb.h"

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

// A DCB as a terminal program may leave it: XON/XOFF, hardware handshake,
// DSR sensitivity, null stripping, abort on error, DTR and RTS off.
DCB LeftOver() {
  DCB dcb{};
  dcb.fBinary = FALSE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fOutxDsrFlow = TRUE;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fDsrSensitivity = TRUE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = TRUE;
  dcb.fInX = TRUE;
  dcb.fErrorChar = TRUE;
  dcb.fNull = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = TRUE;
  return dcb;
}

TEST(SerialPortWin, EveryDcbFieldThatChangesTheLineIsSet) {
  DCB dcb = LeftOver();
  ktr::LineSettings line;  // 19200 8E1
  ktr::detail::ApplyLineToDcb(dcb, line);
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.BaudRate, 19200U);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_TRUE(dcb.fParity);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  EXPECT_FALSE(dcb.fOutxDsrFlow);
  EXPECT_FALSE(dcb.fDsrSensitivity);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
  EXPECT_TRUE(dcb.fTXContinueOnXoff);
  EXPECT_FALSE(dcb.fErrorChar);
  EXPECT_FALSE(dcb.fNull);
  EXPECT_FALSE(dcb.fAbortOnError);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

  line.parity = 0;
  ktr::detail::ApplyLineToDcb(dcb, line);
  EXPECT_FALSE(dcb.fParity);
}

// RTS as the transmit enable: asked for, or set up so by the port's owner.
TEST(SerialPortWin, Rs485TogglesRtsWhileSending) {
  ktr::LineSettings line;
  DCB asked = LeftOver();
  line.rs485 = true;
  ktr::detail::ApplyLineToDcb(asked, line);
  EXPECT_EQ(asked.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
  DCB owner = LeftOver();
  owner.fRtsControl = RTS_CONTROL_TOGGLE;
  line.rs485 = false;
  ktr::detail::ApplyLineToDcb(owner, line);
  EXPECT_EQ(owner.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
}

// A pulled USB adapter answers reads and writes with "Access is denied";
// at CreateFileW the same code means another program holds the port.
TEST(SerialPortWin, AccessDeniedOnAnOpenPortMeansTheAdapterIsGone) {
  using ktr::detail::KindOfError;
  EXPECT_EQ(KindOfError(ERROR_ACCESS_DENIED, false), SerialErrorKind::Busy);
  EXPECT_EQ(KindOfError(ERROR_ACCESS_DENIED, true), SerialErrorKind::Disconnected);
  constexpr DWORD kNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE
  for (const DWORD gone :
       {static_cast<DWORD>(ERROR_DEVICE_REMOVED), kNoSuchDevice, static_cast<DWORD>(ERROR_DEV_NOT_EXIST),
        static_cast<DWORD>(ERROR_GEN_FAILURE), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)}) {
    EXPECT_EQ(KindOfError(gone, true), SerialErrorKind::Disconnected) << gone;
  }
  EXPECT_EQ(KindOfError(ERROR_FILE_NOT_FOUND, false), SerialErrorKind::NotFound);
  EXPECT_EQ(KindOfError(ERROR_SHARING_VIOLATION, false), SerialErrorKind::Busy);
}

}  // namespace
