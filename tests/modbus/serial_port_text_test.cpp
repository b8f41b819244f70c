// The operator's texts about the serial line: line codes and read-back
// mismatches, the reason and hint of a failed open, line-error counters and
// the frame trace.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "serial_port_text.h"

namespace {

using ktr::LineErrorCounts;
using ktr::LineSettings;
using ktr::SerialErrorKind;

LineSettings Line(std::int32_t baud, std::uint8_t data, std::uint8_t parity, std::uint8_t stop) {
  LineSettings l;
  l.baudRate = baud;
  l.dataBits = data;
  l.parity = parity;
  l.stopBits = stop;
  return l;
}

struct MismatchCase {
  const char* what;
  LineSettings wanted, got;
  const char* text;
  friend void PrintTo(const MismatchCase& c, std::ostream* os) { *os << c.what; }
};

class LineMismatchTest : public ::testing::TestWithParam<MismatchCase> {};

TEST_P(LineMismatchTest, NamesWhatTheUartCouldNotDo) {
  EXPECT_EQ(ktr::LineMismatch(GetParam().wanted, GetParam().got), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineMismatchTest,
    ::testing::Values(MismatchCase{"same", Line(19200, 8, 2, 0), Line(19200, 8, 2, 0), ""},
                      MismatchCase{"no parity (mini-UART)", Line(19200, 8, 2, 0), Line(19200, 8, 0, 0),
                                   "cannot do 8E1, got 8N1"},
                      MismatchCase{"space parity left on", Line(9600, 8, 2, 0), Line(9600, 8, 4, 0),
                                   "cannot do 8E1, got 8S1"},
                      MismatchCase{"no 5 data bits", Line(9600, 5, 0, 1), Line(9600, 8, 0, 2),
                                   "cannot do 5N1.5, got 8N2"},
                      MismatchCase{"odd, two stop bits", Line(9600, 7, 1, 2), Line(9600, 7, 1, 0),
                                   "cannot do 7O2, got 7O1"},
                      MismatchCase{"rounded baud within 3 %", Line(14400, 8, 2, 0), Line(14285, 8, 2, 0), ""},
                      MismatchCase{"baud off by more", Line(250000, 8, 2, 0), Line(230400, 8, 2, 0),
                                   "cannot do 8E1 at 250000 baud, got 8E1 at 230400 baud"}));

struct DetailCase {
  SerialErrorKind kind;
  const char* message;
  const char* detail;
  friend void PrintTo(const DetailCase& c, std::ostream* os) { *os << c.message; }
};

class OpenFailureDetailTest : public ::testing::TestWithParam<DetailCase> {};

TEST_P(OpenFailureDetailTest, ReasonThenHint) {
  ktr::SerialError error;
  error.kind = GetParam().kind;
  error.message = GetParam().message;
  EXPECT_EQ(ktr::OpenFailureDetail(error), GetParam().detail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailureDetailTest,
    ::testing::Values(
        DetailCase{SerialErrorKind::NotFound, "open /dev/ttyUSB0: No such file or directory",
                   "open /dev/ttyUSB0: No such file or directory: the adapter is unplugged or the port has "
                   "another name (ktr-cli ports lists them)"},
        DetailCase{SerialErrorKind::Permission, "open /dev/ttyUSB0: Permission denied",
                   "open /dev/ttyUSB0: Permission denied: the user is not in group dialout (sudo usermod -aG "
                   "dialout $USER, then log in again)"},
        DetailCase{SerialErrorKind::Busy, "flock /dev/ttyUSB0: Device or resource busy",
                   "flock /dev/ttyUSB0: Device or resource busy: the port is held by another program "
                   "(ModemManager, brltty, a terminal program or a second configurator); close it or stop "
                   "that service"},
        DetailCase{
            SerialErrorKind::BadSettings, "line settings /dev/ttyS0: the UART cannot do 8E1, got 8N1",
            "line settings /dev/ttyS0: the UART cannot do 8E1, got 8N1: the port cannot take these line "
            "settings; choose others in the serial settings"},
        DetailCase{SerialErrorKind::Other, "open /dev/x: Input/output error",
                   "open /dev/x: Input/output error"},
        DetailCase{SerialErrorKind::Other, "", "the port could not be opened"}));

struct CountsCase {
  LineErrorCounts moved;
  const char* text;
  friend void PrintTo(const CountsCase& c, std::ostream* os) { *os << c.text; }
};

class LineErrorsTextTest : public ::testing::TestWithParam<CountsCase> {};

TEST_P(LineErrorsTextTest, CountsAndWhatToCheck) {
  EXPECT_EQ(ktr::LineErrorsText(GetParam().moved), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineErrorsTextTest,
    ::testing::Values(
        CountsCase{{0, 0, 0, 0}, ""},
        CountsCase{{3, 0, 0, 0}, "3 framing errors: check baud rate, parity, A/B wiring"},
        CountsCase{{1, 1, 0, 0}, "1 framing error, 1 parity error: check baud rate, parity, A/B wiring"},
        CountsCase{{0, 0, 0, 2}, "2 breaks: check baud rate, parity, A/B wiring"},
        CountsCase{{0, 0, 1, 0}, "1 overrun: bytes were lost in the computer"},
        CountsCase{{0, 4, 2, 0},
                   "4 parity errors: check baud rate, parity, A/B wiring; 2 overruns: bytes were lost "
                   "in the computer"}));

TEST(LineErrorCounts, MovedIsTheDifferenceEvenAcrossAWrap) {
  const LineErrorCounts before{0xFFFFFFFEU, 5, 0, 1};
  const LineErrorCounts after{1, 5, 2, 1};
  EXPECT_EQ(ktr::CountsMoved(before, after), (LineErrorCounts{3, 0, 2, 0}));
}

TEST(TraceLine, TimeOfDayDirectionAndHexBytes) {
  const std::uint8_t request[] = {0x01, 0x03, 0x1F, 0x40, 0x00, 0x01, 0x82, 0x0A};
  EXPECT_EQ(ktr::TraceLine(((13 * 60 + 5) * 60 + 9) * 1000LL + 42, true, request, sizeof request),
            "13:05:09.042 TX 01 03 1F 40 00 01 82 0A");
  const std::uint8_t reply[] = {0xFF, 0x00};
  EXPECT_EQ(ktr::TraceLine(86400000LL + 1, false, reply, sizeof reply), "00:00:00.001 RX FF 00");
}

}  // namespace
