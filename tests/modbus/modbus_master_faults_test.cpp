// How the master turns a misbehaving device into result codes, and that no
// bad reply ever reaches the caller's registers or the next request.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <vector>

#include "master_fixture.h"
#include "scripted_device.h"

namespace {

using namespace ktr::test;
using ktr::TModbus;

constexpr std::uint16_t kUntouched = 0xBEEF;

struct ExceptionCase {
  std::uint8_t code;
  std::int32_t expected;
  friend void PrintTo(const ExceptionCase& c, std::ostream* os) { *os << "code " << int{c.code}; }
};

class ExceptionReplies : public ::testing::TestWithParam<ExceptionCase> {};

TEST_P(ExceptionReplies, GiveTheirCodeAndLeaveTheDestination) {
  const auto [code, expected] = GetParam();
  PtyPair pty;
  ScriptedDevice device(pty, [code = code](const Bytes& req) {
    return ScriptedReply{WithCrc({req[0], static_cast<std::uint8_t>(req[1] | 0x80), code})};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 3000)), 0);
  std::array<std::uint16_t, 3> regs{kUntouched, kUntouched, kUntouched};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(master.ReadHoldingRegisters(10020, 3, regs.data()), expected);
  EXPECT_EQ(master.LastFailure(), ktr::RequestFailure::Exception);
  // A complete exception frame ends the read; no need to sit out the time-out.
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(regs[0], kUntouched);
  EXPECT_EQ(regs[2], kUntouched);
  EXPECT_EQ(master.WriteSingleRegister(10080, 0x5555), expected);
  const std::uint16_t v[] = {1, 2};
  EXPECT_EQ(master.WriteMultipleRegisters(14000, 2, v), expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, ExceptionReplies,
                         ::testing::Values(ExceptionCase{1, -51}, ExceptionCase{2, -52},
                                           ExceptionCase{3, -53}, ExceptionCase{4, -54},
                                           ExceptionCase{11, -61}, ExceptionCase{0x80, -178}),
                         [](const ::testing::TestParamInfo<ExceptionCase>& p) {
                           return "Code" + std::to_string(p.param.code);
                         });

TEST(ModbusMasterFaults, CutExceptionReplyStillCarriesItsCode) {
  // Only address, function and code arrive: the code is known, the rest of
  // the frame is missing; decided when the time-out ends the read.
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) { return ScriptedReply{{1, 0x83, 2}}; });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 200)), 0);
  std::array<std::uint16_t, 1> regs{kUntouched};
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), -52);
  EXPECT_EQ(regs[0], kUntouched);
}

TEST(ModbusMasterFaults, SilentDeviceGivesMinusFourAfterTheTimeout) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) { return ScriptedReply{}; });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 400)), 0);
  std::array<std::uint16_t, 1> regs{kUntouched};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), -4);
  EXPECT_EQ(master.LastFailure(), ktr::RequestFailure::NoReply);
  const long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 390);
  EXPECT_LT(elapsed, 4000);
  EXPECT_EQ(regs[0], kUntouched);
  EXPECT_EQ(master.WriteSingleRegister(8000, 1), -4);
}

TEST(ModbusMasterFaults, FlippedBitGivesMinusOneAndWritesNothing) {
  const Bytes good = ReadReplyFrame(1, {0x1234, 0x5678});
  for (std::size_t bit = 0; bit < good.size() * 8; bit += 5) {
    SCOPED_TRACE(bit);
    PtyPair pty;
    Bytes bad = good;
    bad[bit / 8] ^= static_cast<std::uint8_t>(1U << (bit % 8));
    ScriptedDevice device(pty, [bad](const Bytes&) { return ScriptedReply{bad}; });
    TModbus master;
    ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 150)), 0);
    std::array<std::uint16_t, 2> regs{kUntouched, kUntouched};
    const std::int32_t r = master.ReadHoldingRegisters(0, 2, regs.data());
    // A full-length reply of this request is judged by its CRC, even when
    // the flip sets the exception bit of the function byte; a flip in the
    // address, function or byte count makes it no reply of this request,
    // only bytes that are none.
    const bool header = bit < 24 && bit != 15;
    EXPECT_EQ(r, header ? -4 : -1);
    EXPECT_EQ(master.LastFailure(), ktr::RequestFailure::BadReply);
    EXPECT_EQ(regs[0], kUntouched);
    EXPECT_EQ(regs[1], kUntouched);
  }
}

TEST(ModbusMasterFaults, CorruptWriteEchoIsMinusOne) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes& req) {
    Bytes echo = WriteEchoFrame(req);
    echo[7] ^= 0x01;
    return ScriptedReply{echo};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  EXPECT_EQ(master.WriteSingleRegister(10080, 0x5555), -1);
  const std::uint16_t v[] = {7};
  EXPECT_EQ(master.WriteMultipleRegisters(10080, 1, v), -1);
}

TEST(ModbusMasterFaults, CutReplyIsMinusFour) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) {
    Bytes r = ReadReplyFrame(1, {1, 2, 3});
    r.resize(6);
    return ScriptedReply{r};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 200)), 0);
  std::array<std::uint16_t, 3> regs{kUntouched, kUntouched, kUntouched};
  EXPECT_EQ(master.ReadHoldingRegisters(0, 3, regs.data()), -4);
  EXPECT_EQ(regs[0], kUntouched);
}

TEST(ModbusMasterFaults, SurplusOfALongReplyDoesNotReachTheNextRequest) {
  PtyPair pty;
  std::atomic<std::uint16_t> counter{0};
  ScriptedDevice device(pty, [&counter](const Bytes&) {
    Bytes r = ReadReplyFrame(1, {++counter});
    for (int i = 0; i < 9; ++i) r.push_back(0x5A);  // surplus after a complete reply
    return ScriptedReply{r};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  for (std::uint16_t i = 1; i <= 5; ++i) {
    std::array<std::uint16_t, 1> regs{};
    ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), 0) << i;
    EXPECT_EQ(regs[0], i);
  }
}

TEST(ModbusMasterFaults, LateReplyDoesNotReachTheNextRequest) {
  PtyPair pty;
  std::atomic<int> n{0};
  ScriptedDevice device(pty, [&n](const Bytes&) {
    const int i = ++n;
    // The first answer comes after the master has given up on it.
    return i == 1 ? ScriptedReply{ReadReplyFrame(1, {111}), 250} : ScriptedReply{ReadReplyFrame(1, {222})};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 100)), 0);
  std::array<std::uint16_t, 1> regs{kUntouched};
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), -4);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the late reply is queued now
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), 0);
  EXPECT_EQ(regs[0], 222);
}

// The late reply arrives while the next request to the same device waits for
// its own reply: RTU frames carry no request number. A next request whose
// reply looks the same (the same quantity read) waits for a quiet line
// first; one whose reply differs goes at once and passes the late reply
// over, an exception of the same function included (held until its own
// reply comes or the deadline passes).
enum class First : std::uint8_t { kRead, kWrite, kException, kSilent };

struct LateCase {
  const char* name;
  // Beyond the 400 ms time-out, less than another time-out. The reply
  // deadline also holds the wire time (9 ms at 19200 baud), and a master
  // thread woken late at its deadline on a busy machine (tens of ms seen
  // with four builds on two cores) takes what has come by then: "soon"
  // keeps 90 ms clear of the deadline.
  int lateByMs;
  First first;              // the first request and its late answer
  std::uint16_t nextCount;  // registers the next read asks for
  bool nextException;       // the next read's own answer is exception 2
  friend void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }
};

class LateReplies : public ::testing::TestWithParam<LateCase> {};

TEST_P(LateReplies, AreNotTakenByTheNextRequestToTheSameDevice) {
  const LateCase c = GetParam();
  PtyPair pty;
  std::atomic<int> n{0};
  ScriptedDevice device(pty, [&n, &c](const Bytes& request) {
    if (++n == 1) {
      const int late = 400 + c.lateByMs;
      switch (c.first) {
        case First::kRead: return ScriptedReply{ReadReplyFrame(1, {111}), late};
        case First::kWrite: return ScriptedReply{WriteEchoFrame(request), late};
        case First::kException: return ScriptedReply{WithCrc({1, 0x83, 2}), late};
        case First::kSilent: return ScriptedReply{};
      }
    }
    if (c.nextException) return ScriptedReply{WithCrc({1, 0x83, 2})};
    return ScriptedReply{c.nextCount == 1 ? ReadReplyFrame(1, {222}) : ReadReplyFrame(1, {222, 223})};
  });
  TModbus master;
  // The line is known not to echo: no read ahead of the first write.
  ktr::SerialSettings settings = PtySettings(pty, 1, 400);
  settings.echo = ktr::EchoMode::Off;
  ASSERT_EQ(master.OpenPort(settings), 0);
  std::array<std::uint16_t, 2> regs{kUntouched, kUntouched};
  EXPECT_EQ(c.first == First::kWrite ? master.WriteSingleRegister(8000, 0x1111)
                                     : master.ReadHoldingRegisters(8000, 1, regs.data()),
            -4);
  // Taken, the late reply would read as 111 (same length), fail the CRC or
  // the length, or give exception 2.
  const std::int32_t r = master.ReadHoldingRegisters(8000, c.nextCount, regs.data());
  if (c.nextException) {
    EXPECT_EQ(r, -52);
  } else {
    EXPECT_EQ(r, 0);
    EXPECT_EQ(regs[0], 222);
    if (c.nextCount == 2) {
      EXPECT_EQ(regs[1], 223);
    }
  }
  EXPECT_EQ(device.Requests().size(), 2U);
}

INSTANTIATE_TEST_SUITE_P(
    Master, LateReplies,
    ::testing::Values(LateCase{"SoonAfterTheTimeoutRead", 100, First::kRead, 1, false},
                      LateCase{"SoonAfterTheTimeoutWrite", 100, First::kWrite, 1, false},
                      LateCase{"AlmostATimeoutLateRead", 360, First::kRead, 1, false},
                      LateCase{"AlmostATimeoutLateWrite", 360, First::kWrite, 1, false},
                      LateCase{"ReadOfAnotherQuantityTakesItsOwnReply", 100, First::kRead, 2, false},
                      LateCase{"LateExceptionPassedOverForTheReply", 100, First::kException, 2, false},
                      LateCase{"HeldExceptionIsTheRequestsOwn", 0, First::kSilent, 2, true}),
    [](const ::testing::TestParamInfo<LateCase>& p) { return p.param.name; });

// What a real line delivers besides the reply: the reply is found among it,
// and nothing else is ever taken for it.
struct LineCase {
  const char* name;
  std::function<Bytes(const Bytes& request)> line;
  std::int32_t result;
  ktr::RequestFailure failure;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class LineNoise : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineNoise, OnlyThisRequestsReplyCounts) {
  const LineCase& c = GetParam();
  PtyPair pty;
  ScriptedDevice device(pty, [&c](const Bytes& request) { return ScriptedReply{c.line(request)}; });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 150)), 0);
  std::array<std::uint16_t, 1> regs{kUntouched};
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), c.result);
  EXPECT_EQ(master.LastFailure(), c.failure);
  EXPECT_EQ(regs[0], c.result == 0 ? 42 : kUntouched);
}

const Bytes kGood = ReadReplyFrame(1, {42});

INSTANTIATE_TEST_SUITE_P(
    Master, LineNoise,
    ::testing::Values(LineCase{"EchoThenReply",
                               [](const Bytes& r) {
                                 return Cat({r, kGood});
                               },
                               0, ktr::RequestFailure::None},
                      LineCase{"NoiseByteThenReply",
                               [](const Bytes&) {
                                 return Cat({{0x00}, kGood});
                               },
                               0, ktr::RequestFailure::None},
                      LineCase{"EchoNoiseThenReply",
                               [](const Bytes& r) {
                                 return Cat({r, {0xFF}, kGood});
                               },
                               0, ktr::RequestFailure::None},
                      LineCase{"LateReplyOfAnotherAddressThenReply",
                               [](const Bytes&) {
                                 return Cat({ReadReplyFrame(2, {666}), kGood});
                               },
                               0, ktr::RequestFailure::None},
                      LineCase{"ReplyToAnotherReadThenReply",
                               [](const Bytes&) {
                                 return Cat({ReadReplyFrame(1, {666, 667}), kGood});
                               },
                               0, ktr::RequestFailure::None},
                      LineCase{"OnlyAnotherAddress", [](const Bytes&) { return ReadReplyFrame(2, {666}); },
                               -4, ktr::RequestFailure::NoReply},
                      LineCase{"OnlyTheEcho", [](const Bytes& r) { return r; }, -4,
                               ktr::RequestFailure::NoReply},
                      LineCase{"OnlyNoise", [](const Bytes&) { return FromHex("FF 00 FF 00 FF 00"); }, -4,
                               ktr::RequestFailure::BadReply},
                      LineCase{"EchoThenExceptionReply",
                               [](const Bytes& r) {
                                 return Cat({r, WithCrc({1, 0x83, 2})});
                               },
                               -52, ktr::RequestFailure::Exception}),
    [](const ::testing::TestParamInfo<LineCase>& p) { return std::string(p.param.name); });

// A write of function 5 or 6 is answered with its own request, which an
// echoing line also returns: it is done only when the device's copy came.
struct EchoCase {
  const char* name;
  ktr::EchoMode mode;
  bool echoes;     // the line returns each request
  bool answers;    // a device answers
  bool readFirst;  // a read on the port before the write
  std::int32_t result;
  std::size_t requests;  // frames on the line, the read included
};

void PrintTo(const EchoCase& c, std::ostream* out) { *out << c.name; }

class WriteEcho : public ::testing::TestWithParam<EchoCase> {};

TEST_P(WriteEcho, IsNeverTakenForTheReply) {
  const EchoCase& c = GetParam();
  PtyPair pty;
  ScriptedDevice device(pty, [&c](const Bytes& request) {
    Bytes line = c.echoes ? request : Bytes{};
    if (c.answers) line = Cat({line, request[1] == 6 ? request : ReadReplyFrame(1, {7})});
    return ScriptedReply{line};
  });
  TModbus master;
  ktr::SerialSettings settings = PtySettings(pty, 1, 150);
  settings.echo = c.mode;
  ASSERT_EQ(master.OpenPort(settings), 0);
  if (c.readFirst) {
    std::array<std::uint16_t, 1> regs{};
    EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), c.answers ? 0 : -4);
  }
  EXPECT_EQ(master.WriteSingleRegister(10080, 0x5555), c.result);
  EXPECT_EQ(master.LastFailure(), c.result == 0 ? ktr::RequestFailure::None : ktr::RequestFailure::NoReply);
  const auto requests = device.Requests();
  EXPECT_EQ(requests.size(), c.requests);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(ToHex(requests.back()), ToHex(WithCrc(FromHex("01 06 27 60 55 55"))));
}

using ktr::EchoMode;
INSTANTIATE_TEST_SUITE_P(
    Master, WriteEcho,
    ::testing::Values(EchoCase{"LearnedEchoDeviceAnswers", EchoMode::Auto, true, true, true, 0, 2},
                      EchoCase{"LearnedEchoNoDevice", EchoMode::Auto, true, false, true, -4, 2},
                      EchoCase{"LearnedNoEchoDeviceAnswers", EchoMode::Auto, false, true, true, 0, 2},
                      // Nothing read yet: one read of the register first.
                      EchoCase{"UnknownEchoNoDevice", EchoMode::Auto, true, false, false, -4, 2},
                      EchoCase{"UnknownEchoDeviceAnswers", EchoMode::Auto, true, true, false, 0, 2},
                      EchoCase{"UnknownNoEchoDeviceAnswers", EchoMode::Auto, false, true, false, 0, 2},
                      EchoCase{"UnknownNoEchoNoDevice", EchoMode::Auto, false, false, false, -4, 2},
                      EchoCase{"OnNoDevice", EchoMode::On, true, false, false, -4, 1},
                      EchoCase{"OnDeviceAnswers", EchoMode::On, true, true, false, 0, 1},
                      EchoCase{"OffDeviceAnswers", EchoMode::Off, false, true, false, 0, 1}),
    [](const ::testing::TestParamInfo<EchoCase>& p) { return std::string(p.param.name); });

// At 1200 baud 8E1 a 128-register reply alone takes 2.4 s on the wire; the
// deadline is the time-out plus the wire time of request and reply.
TEST(ModbusMasterFaults, LongReplyAt1200BaudArrivesWithinTheDeadline) {
  PtyPair pty;
  const int wireMs = (8 + 5 + 2 * 128) * 11 * 1000 / 1200;
  ScriptedDevice device(pty, [wireMs](const Bytes&) {
    Bytes b{1, 3, 0};
    for (int i = 0; i < 128; ++i) {
      b.push_back(0);
      b.push_back(static_cast<std::uint8_t>(i));
    }
    return ScriptedReply{WithCrc(b), wireMs};
  });
  TModbus master;
  ktr::SerialSettings settings = PtySettings(pty, 1, 300);
  settings.baudRate = 1200;
  ASSERT_EQ(master.OpenPort(settings), 0);
  std::array<std::uint16_t, 128> regs{};
  ASSERT_EQ(master.ReadHoldingRegisters(8001, 128, regs.data()), 0);
  EXPECT_EQ(regs[127], 127);
}

// A request that follows a reply waits until the line has been quiet for
// 3.5 characters: 32 ms at 1200 baud 8E1 (the pty itself takes no time).
TEST(ModbusMasterFaults, NextRequestWaitsForAQuietLine) {
  PtyPair pty;
  std::mutex mutex;
  std::vector<std::chrono::steady_clock::time_point> arrivals;
  ScriptedDevice device(pty, [&](const Bytes&) {
    std::lock_guard<std::mutex> lock(mutex);
    arrivals.push_back(std::chrono::steady_clock::now());
    return ScriptedReply{ReadReplyFrame(1, {42})};
  });
  TModbus master;
  ktr::SerialSettings settings = PtySettings(pty, 1, 300);
  settings.baudRate = 1200;
  ASSERT_EQ(master.OpenPort(settings), 0);
  std::array<std::uint16_t, 1> regs{};
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), 0);
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), 0);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(arrivals.size(), 2U);
  // The first reply left the device after the first request arrived.
  EXPECT_GE(arrivals[1] - arrivals[0], std::chrono::nanoseconds(rtu::QuietTimeNs(1200, 8, 2, 0)));
}

TEST(ModbusMasterFaults, GarbageIsAFailureNeverData) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) {
    return ScriptedReply{FromHex("FF 00 13 37 42 00 00 01 02 03 04 05 06 07 08 09")};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 1, 200)), 0);
  std::array<std::uint16_t, 2> regs{kUntouched, kUntouched};
  EXPECT_NE(master.ReadHoldingRegisters(0, 2, regs.data()), 0);
  EXPECT_EQ(regs[0], kUntouched);
}

}  // namespace
