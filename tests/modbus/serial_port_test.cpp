// The POSIX serial transport on real pseudo-terminals.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "serial_line_linux.h"
#include "serial_port.h"
#include "serial_port_text.h"

namespace {

using ktr::LineSettings;
using ktr::SerialErrorKind;
using ktr::SerialPort;
using ktr::test::Bytes;
using ktr::test::PtyPair;
using Clock = std::chrono::steady_clock;

LineSettings Line(std::int32_t baud, std::uint8_t data, std::uint8_t stop, std::uint8_t parity,
                  std::int32_t timeoutMs = 300) {
  LineSettings l;
  l.baudRate = baud;
  l.dataBits = data;
  l.stopBits = stop;
  l.parity = parity;
  l.timeoutMs = timeoutMs;
  return l;
}

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(SerialPort, MissingDeviceCannotBeOpened) {
  SerialPort port;
  EXPECT_EQ(port.Open("/dev/ktr-no-such-port", Line(19200, 8, 0, 2)), SerialPort::kCannotOpen);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::NotFound);
  EXPECT_NE(port.LastError().message.find("/dev/ktr-no-such-port"), std::string::npos);
}

TEST(SerialPort, NameWithoutSlashIsLookedUpInDev) {
  EXPECT_EQ(SerialPort::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(SerialPort::DevicePath("/tmp/ktr-link"), "/tmp/ktr-link");
  EXPECT_EQ(SerialPort::DevicePath("pts/3"), "pts/3");
  SerialPort port;
  EXPECT_EQ(port.Open("ktr-no-such-port", Line(19200, 8, 0, 2)), SerialPort::kCannotOpen);
  EXPECT_NE(port.LastError().message.find("/dev/ktr-no-such-port"), std::string::npos);
}

struct LineCase {
  std::int32_t baud;
  std::uint8_t data, stop, parity;
  int expected;
  friend void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.baud << " " << int{c.data} << " data, stop " << int{c.stop} << ", parity " << int{c.parity};
  }
};

class LineSettingsOnOpen : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineSettingsOnOpen, AcceptedOrRefused) {
  PtyPair pty;
  SerialPort port;
  const LineCase& c = GetParam();
  EXPECT_EQ(port.Open(pty.slavePath(), Line(c.baud, c.data, c.stop, c.parity)), c.expected);
  EXPECT_EQ(port.IsOpen(), c.expected == SerialPort::kOk);  // a refused port is not kept
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineSettingsOnOpen,
    ::testing::Values(LineCase{19200, 8, 0, 2, 0}, LineCase{14400, 8, 0, 2, 0},  // no B14400
                      LineCase{250000, 8, 0, 0, 0}, LineCase{300, 7, 2, 1, 0}, LineCase{9600, 6, 2, 2, 0},
                      LineCase{9600, 5, 1, 0, 0},                                // 1.5 with 5 bits
                      LineCase{9600, 8, 1, 2, -1}, LineCase{9600, 7, 1, 0, -1},  // 1.5 otherwise
                      LineCase{9600, 5, 2, 0, -1}, LineCase{9600, 4, 0, 0, -1}, LineCase{9600, 9, 0, 0, -1},
                      LineCase{9600, 8, 3, 0, -1}, LineCase{9600, 8, 0, 3, -1}, LineCase{0, 8, 0, 2, -1},
                      LineCase{-9600, 8, 0, 2, -1}),
    [](const ::testing::TestParamInfo<LineCase>& p) {
      const LineCase& c = p.param;
      return "Baud" + std::to_string(c.baud < 0 ? 0 : c.baud) + (c.baud < 0 ? "Negative" : "") + "Data" +
             std::to_string(c.data) + "Stop" + std::to_string(c.stop) + "Parity" + std::to_string(c.parity);
    });

TEST(SerialPort, HeldPortCannotBeOpenedAgain) {
  PtyPair pty;
  SerialPort first;
  ASSERT_EQ(first.Open(pty.slavePath(), Line(19200, 8, 0, 2)), SerialPort::kOk);

  SerialPort second;
  EXPECT_EQ(second.Open(pty.slavePath(), Line(19200, 8, 0, 2)), SerialPort::kCannotOpen);
  EXPECT_EQ(second.LastError().kind, SerialErrorKind::Busy);

  // Another process is refused too.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SerialPort other;
    _exit(other.Open(pty.slavePath(), Line(19200, 8, 0, 2)) == SerialPort::kCannotOpen ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  first.Close();
  EXPECT_EQ(second.Open(pty.slavePath(), Line(19200, 8, 0, 2)), SerialPort::kOk);
}

TEST(SerialPort, EveryByteValuePassesUnchangedWithParity) {
  PtyPair pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2, 1000)), SerialPort::kOk);
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));

  ASSERT_TRUE(port.Write(all.data(), all.size()));
  EXPECT_EQ(pty.ReadMaster(256, 1000), all);

  pty.WriteMaster(all);
  Bytes got(256);
  std::size_t received = 0;
  ASSERT_TRUE(port.Read(got.data(), got.size(), &received));
  ASSERT_EQ(received, 256U);
  EXPECT_EQ(got, all);
}

TEST(SerialPort, ReadReturnsWhenAllBytesHaveArrived) {
  PtyPair pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2, 5000)), SerialPort::kOk);
  pty.WriteMaster({1, 2, 3, 4, 5, 6, 7});
  std::uint8_t buf[7];
  std::size_t received = 0;
  const auto start = Clock::now();
  ASSERT_TRUE(port.Read(buf, 7, &received));
  EXPECT_EQ(received, 7U);
  EXPECT_LT(ElapsedMs(start), 2500);
}

TEST(SerialPort, ReadTimesOutFromItsStartWithWhatArrived) {
  PtyPair pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2, 300)), SerialPort::kOk);
  pty.WriteMaster({0xAA, 0xBB});
  std::uint8_t buf[7] = {};
  std::size_t received = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(port.Read(buf, 7, &received));  // a time-out is no read failure
  const long elapsed = ElapsedMs(start);
  EXPECT_EQ(received, 2U);
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::Timeout);
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 3000);
}

TEST(SerialPort, ReadStopsEarlyWhenFrameIsComplete) {
  PtyPair pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2, 5000)), SerialPort::kOk);
  pty.WriteMaster({9, 9, 9});
  std::uint8_t buf[10] = {};
  std::size_t received = 0;
  const auto start = Clock::now();
  ASSERT_TRUE(port.Read(buf, 10, &received, [](const std::uint8_t*, std::size_t n) { return n >= 3; }));
  EXPECT_EQ(received, 3U);
  EXPECT_LT(ElapsedMs(start), 2500);
}

TEST(SerialPort, HangUpEndsTheReadAtOnce) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  close(slave);
  SerialPort port;
  ASSERT_EQ(port.Open(name, Line(19200, 8, 0, 2, 5000)), SerialPort::kOk);
  close(master);
  std::uint8_t buf[8];
  std::size_t received = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buf, 8, &received));
  EXPECT_EQ(received, 0U);
  EXPECT_LT(ElapsedMs(start), 2500);
}

TEST(SerialPort, ClosedPortNeitherReadsNorWrites) {
  SerialPort port;
  std::uint8_t buf[4] = {1, 2, 3, 4};
  std::size_t received = 99;
  EXPECT_FALSE(port.Write(buf, 4));
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::NotOpen);
  EXPECT_FALSE(port.Read(buf, 4, &received));
  EXPECT_EQ(received, 0U);
  port.Close();  // closing twice is harmless
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, DiscardDropsQueuedInput) {
  PtyPair pty;
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2, 200)), SerialPort::kOk);
  pty.WriteMaster({1, 2, 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  port.DiscardInput();
  pty.WriteMaster({7});
  std::uint8_t buf[4] = {};
  std::size_t received = 0;
  ASSERT_TRUE(port.Read(buf, 4, &received));  // a time-out is no failure
  ASSERT_EQ(received, 1U);
  EXPECT_EQ(buf[0], 7);
}

// Termios survives on a real port from its last user; a pty keeps what was
// set through another fd too, so the left-overs of "another program" can be
// planted before our open.
TEST(SerialPort, OpenClearsWhatAnotherProgramLeftOnTheLine) {
  PtyPair pty;
  const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  termios left{};
  ASSERT_EQ(tcgetattr(other, &left), 0);
  left.c_cflag |= HUPCL | CMSPAR | CRTSCTS;
  left.c_iflag |= IGNPAR | IXON | IXOFF | ICRNL | ISTRIP;
  left.c_oflag |= OPOST | ONLCR;
  left.c_lflag |= ICANON | ECHO | ECHOE | ISIG;
  ASSERT_EQ(tcsetattr(other, TCSANOW, &left), 0);

  SerialPort port;
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2)), SerialPort::kOk);
  termios now{};
  ASSERT_EQ(tcgetattr(other, &now), 0);
  EXPECT_EQ(now.c_cflag & (HUPCL | CMSPAR | CRTSCTS), 0U);
  EXPECT_EQ(now.c_iflag & (IGNPAR | IXON | IXOFF | ICRNL | ISTRIP), 0U);
  EXPECT_EQ(now.c_oflag & (OPOST | ONLCR), 0U);
  EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ECHOE | ISIG), 0U);
  EXPECT_NE(now.c_cflag & CLOCAL, 0U);
  ::close(other);
}

// A pty has no RS-485 mode, no low-latency setting and no line-error
// counters: asking for RS-485 fails the open with the reason, the rest is
// left out without a failure.
TEST(SerialPort, PseudoTerminalHasNoDriverExtras) {
  PtyPair pty;
  SerialPort port;
  LineSettings rs485 = Line(19200, 8, 0, 2);
  rs485.rs485 = true;
  EXPECT_EQ(port.Open(pty.slavePath(), rs485), SerialPort::kFailed);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.LastError().kind, SerialErrorKind::BadSettings);
  EXPECT_NE(port.LastError().message.find("TIOCSRS485"), std::string::npos) << port.LastError().message;

  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2)), SerialPort::kOk);
  const ktr::DriverState state = port.QueryDriverState();
  EXPECT_FALSE(state.lowLatency.has_value());
  EXPECT_FALSE(state.rs485.has_value());
  const std::uint8_t frame[2] = {1, 3};
  ASSERT_TRUE(port.Write(frame, 2));
  EXPECT_FALSE(port.LineErrorsSinceWrite().has_value());
}

// What a real driver keeps of the settings asked for, as the open compares
// it: the flags and speed it reports back, and what the driver is known to
// do with them (seen on the 8250 and ftdi_sio drivers in tests/drivers).
struct KeptCase {
  const char* driver;
  tcflag_t cflag;
  speed_t ospeed;
  LineSettings wanted;
  const char* mismatch;  // LineMismatch(wanted, kept); "" when kept as asked
};

class LineKeptTest : public ::testing::TestWithParam<KeptCase> {};

TEST_P(LineKeptTest, AsTheOpenComparesIt) {
  const KeptCase& c = GetParam();
  const LineSettings kept = ktr::detail::LineKept(c.cflag, c.ospeed, c.wanted, c.driver);
  EXPECT_EQ(ktr::LineMismatch(c.wanted, kept), c.mismatch);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, LineKeptTest,
    ::testing::Values(
        KeptCase{"serial", CS8 | PARENB, 19200, Line(19200, 8, 0, 2), ""},
        KeptCase{"serial", CS5 | CSTOPB, 19200, Line(19200, 5, 1, 0), ""},
        KeptCase{"serial", CS7 | CSTOPB | PARENB | PARODD, 9600, Line(9600, 7, 2, 1), ""},
        KeptCase{"serial", CS8, 19200, Line(19200, 8, 0, 2), "cannot do 8E1, got 8N1"},
        KeptCase{"ftdi_sio", CS8 | PARENB, 14397, Line(14400, 8, 0, 2), ""},
        // ftdi_sio keeps CS5 as a smart-card quirk; the chip runs 8 bits.
        KeptCase{"ftdi_sio", CS5 | CSTOPB, 19200, Line(19200, 5, 1, 0), "cannot do 5N1.5, got 8N2"},
        // It turns CS6 back into the size the port had.
        KeptCase{"ftdi_sio", CS8 | PARENB, 19200, Line(19200, 6, 0, 2), "cannot do 6E1, got 8E1"},
        KeptCase{"ftdi_sio", CS7 | PARENB, 19200, Line(19200, 7, 0, 2), ""}));

TEST(SerialPort, TraceSeesEveryByteWrittenAndRead) {
  PtyPair pty;
  SerialPort port;
  std::vector<std::pair<bool, Bytes>> seen;
  port.SetTrace([&seen](bool sent, const std::uint8_t* data, std::size_t n) {
    seen.emplace_back(sent, Bytes(data, data + n));
  });
  ASSERT_EQ(port.Open(pty.slavePath(), Line(19200, 8, 0, 2, 300)), SerialPort::kOk);
  const Bytes request{1, 3, 0x1F, 0x40, 0, 1, 0x82, 0x0A};
  ASSERT_TRUE(port.Write(request.data(), request.size()));
  EXPECT_EQ(pty.ReadMaster(8, 1000), request);
  pty.WriteMaster({1, 3, 2});
  std::uint8_t buf[7] = {};
  std::size_t received = 0;
  EXPECT_TRUE(port.Read(buf, 7, &received));  // times out with three bytes
  EXPECT_TRUE(port.Read(buf, 7, &received));  // nothing: no trace line
  ASSERT_EQ(seen.size(), 2U);
  EXPECT_EQ(seen[0], std::make_pair(true, request));
  EXPECT_EQ(seen[1], std::make_pair(false, Bytes{1, 3, 2}));
}

}  // namespace
