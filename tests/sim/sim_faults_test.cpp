// ktr-sim's deliberate faults, seen on the wire: every `--fault` mode and
// every trigger register, read back as raw bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ktr_register_map.h"
#include "sim_process.h"
#include "sim_wire.h"

namespace ktr::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The probe register answers with the firmware text length (10).
const std::uint16_t kProbe = ktr::reg::kFirmwareTextLength;

Bytes CorrectReply(std::uint16_t start) {
  return ReadReply(1, 3, {*ktr::DefaultValue(ktr::Firmware::kNew, start)});
}

// Sends one read and checks that the reply on the wire has the fault.
void ExpectFaultOnWire(RawLine& line, std::uint16_t start, ktr::FaultMode fault) {
  const Bytes correct = CorrectReply(start);
  const auto sent = Clock::now();
  const Bytes request = ReadRequestFrame(1, 3, start, 1);
  line.Write(request);
  const auto then = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  switch (fault.kind) {
    case ktr::Fault::kEcho:
      EXPECT_EQ(ToHex(line.ReadReply(request.size() + correct.size())), ToHex(then(request, correct)));
      break;
    case ktr::Fault::kNoise:
      EXPECT_EQ(ToHex(line.ReadReply(1 + correct.size())), ToHex(then({ktr::kNoiseByte}, correct)));
      break;
    case ktr::Fault::kForeign: {
      // Address 2's reply of the same length with other data, then ours.
      Bytes other{2, 3, 2, static_cast<std::uint8_t>(correct[3] ^ ktr::kForeignXor),
                  static_cast<std::uint8_t>(correct[4] ^ ktr::kForeignXor)};
      EXPECT_EQ(ToHex(line.ReadReply(2 * correct.size())), ToHex(then(WithCrc(other), correct)));
      break;
    }
    case ktr::Fault::kNone: EXPECT_EQ(ToHex(line.ReadReply(correct.size())), ToHex(correct)); break;
    case ktr::Fault::kSilent: EXPECT_EQ(ToHex(line.ReadUntilQuiet(300ms)), ""); break;
    case ktr::Fault::kBadCrc: {
      Bytes expected = correct;
      expected.back() ^= ktr::kBadCrcFlip;
      const Bytes got = line.ReadReply(correct.size());
      EXPECT_EQ(ToHex(got), ToHex(expected));
      EXPECT_FALSE(CrcValid(got));
      break;
    }
    case ktr::Fault::kException:
      EXPECT_EQ(ToHex(line.ReadReply(5)),
                ToHex(WithCrc({0x01, 0x83, static_cast<std::uint8_t>(fault.value)})));
      break;
    case ktr::Fault::kShort: {
      const Bytes head(correct.begin(), correct.begin() + ktr::kShortReplyLength);
      EXPECT_EQ(ToHex(line.ReadReply(correct.size(), 500ms)), ToHex(head));
      break;
    }
    case ktr::Fault::kLong: {
      Bytes expected = correct;
      expected.insert(expected.end(), ktr::kLongReplySurplus.begin(), ktr::kLongReplySurplus.end());
      EXPECT_EQ(ToHex(line.ReadReply(expected.size())), ToHex(expected));
      break;
    }
    case ktr::Fault::kSlow: {
      EXPECT_EQ(ToHex(line.ReadReply(correct.size(), std::chrono::milliseconds(fault.value) + 5s)),
                ToHex(correct));
      // The simulator sleeps at least this long after it has the request.
      EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(fault.value));
      break;
    }
    case ktr::Fault::kGarbage: {
      const Bytes got = line.ReadReply(correct.size());
      EXPECT_EQ(got.size(), correct.size());
      EXPECT_NE(ToHex(got), ToHex(correct));
      EXPECT_FALSE(CrcValid(got));
      break;
    }
  }
}

struct FaultCase {
  const char* name;
  std::vector<std::string> args;  // --fault, or nothing for a trigger
  std::uint16_t start;            // register read
  ktr::FaultMode fault;
  friend void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }
};

class FaultOnWireTest : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultOnWireTest, ReplyHasTheFault) {
  const FaultCase& c = GetParam();
  SimProcess sim(c.args);
  RawLine line(sim.link());
  ExpectFaultOnWire(line, c.start, c.fault);
  if (c.args.empty()) {
    // A trigger spoils one reply only; the next request is answered well.
    ExpectFaultOnWire(line, kProbe, {});
  } else {
    // A configured fault spoils every reply.
    ExpectFaultOnWire(line, kProbe, c.fault);
  }
}

using ktr::Fault;
namespace trigger = ktr::trigger;

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultOnWireTest,
    testing::Values(
        FaultCase{"None", {}, kProbe, {}},
        FaultCase{"Silent", {"--fault", "silent"}, kProbe, {Fault::kSilent, 0}},
        FaultCase{"BadCrc", {"--fault", "bad-crc"}, kProbe, {Fault::kBadCrc, 0}},
        FaultCase{"Exception4", {"--fault", "exception=4"}, kProbe, {Fault::kException, 4}},
        FaultCase{"Exception255", {"--fault", "exception=255"}, kProbe, {Fault::kException, 255}},
        FaultCase{"Short", {"--fault", "short"}, kProbe, {Fault::kShort, 0}},
        FaultCase{"Long", {"--fault", "long"}, kProbe, {Fault::kLong, 0}},
        FaultCase{"Slow300", {"--fault", "slow=300"}, kProbe, {Fault::kSlow, 300}},
        FaultCase{"Garbage", {"--fault", "garbage"}, kProbe, {Fault::kGarbage, 0}},
        FaultCase{"Echo", {"--fault", "echo"}, kProbe, {Fault::kEcho, 0}},
        FaultCase{"Noise", {"--fault", "noise"}, kProbe, {Fault::kNoise, 0}},
        FaultCase{"Foreign", {"--fault", "foreign"}, kProbe, {Fault::kForeign, 0}},
        FaultCase{"TriggerSilent", {}, trigger::kSilent, {Fault::kSilent, 0}},
        FaultCase{"TriggerBadCrc", {}, trigger::kBadCrc, {Fault::kBadCrc, 0}},
        FaultCase{"TriggerShort", {}, trigger::kShort, {Fault::kShort, 0}},
        FaultCase{"TriggerLong", {}, trigger::kLong, {Fault::kLong, 0}},
        FaultCase{"TriggerSlow", {}, trigger::kSlow, {Fault::kSlow, trigger::kSlowMs}},
        FaultCase{"TriggerException", {}, trigger::kException, {Fault::kException, trigger::kExceptionCode}},
        FaultCase{"TriggerGarbage", {}, trigger::kGarbage, {Fault::kGarbage, 0}}),
    CaseName());

TEST(Triggers, EachTriggerRegisterIsNamedOnce) {
  std::vector<Fault> seen;
  for (std::uint32_t a = trigger::kBlock.start; a < trigger::kBlock.end(); ++a) {
    const Fault f = ktr::TriggeredFault(static_cast<std::uint16_t>(a)).kind;
    EXPECT_NE(f, Fault::kNone) << a;
    for (Fault earlier : seen) EXPECT_NE(f, earlier) << a;
    seen.push_back(f);
    EXPECT_FALSE(ktr::InMap(ktr::Firmware::kNew, static_cast<std::uint16_t>(a)) &&
                 ktr::DefaultValue(ktr::Firmware::kNew, static_cast<std::uint16_t>(a)) != a);
  }
  EXPECT_EQ(ktr::TriggeredFault(trigger::kBlock.end()).kind, Fault::kNone);
}

TEST(Triggers, WriteToTriggerRegisterTriggersToo) {
  SimProcess sim;
  RawLine line(sim.link());
  Bytes expected = WriteSingleFrame(1, trigger::kBadCrc, 1);  // the echo
  expected.back() ^= ktr::kBadCrcFlip;
  line.Write(WriteSingleFrame(1, trigger::kBadCrc, 1));
  EXPECT_EQ(ToHex(line.ReadReply(expected.size())), ToHex(expected));
}

// What a libmodbus master makes of each fault.
struct ClientCase {
  const char* name;
  std::vector<std::string> args;
  std::uint16_t start;
  int error;
  friend void PrintTo(const ClientCase& c, std::ostream* os) { *os << c.name; }
};

class FaultAtClientTest : public testing::TestWithParam<ClientCase> {};

TEST_P(FaultAtClientTest, ReadFailsWith) {
  SimProcess sim(GetParam().args);
  ModbusClient client(sim.link(), 1, 500ms);
  std::vector<std::uint16_t> values;
  EXPECT_EQ(client.Read(GetParam().start, 1, values), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultAtClientTest,
    testing::Values(
        ClientCase{"BadCrc", {"--fault", "bad-crc"}, kProbe, EMBBADCRC},
        ClientCase{"Exception4", {"--fault", "exception=4"}, kProbe, EMBXSFAIL},
        ClientCase{"Exception2", {"--fault", "exception=2"}, kProbe, EMBXILADD},
        ClientCase{"Silent", {"--fault", "silent"}, kProbe, ETIMEDOUT},
        ClientCase{"Short", {"--fault", "short"}, kProbe, ETIMEDOUT},
        ClientCase{"TriggerException", {}, trigger::kException, EMBXSFAIL},
        ClientCase{"TriggerBadCrc", {}, trigger::kBadCrc, EMBBADCRC},
        // Behind the simulated Modbus TCP gateway: libmodbus's TCP client.
        ClientCase{"TcpHealthy", {"--tcp", "127.0.0.1:0"}, kProbe, 0},
        ClientCase{"TcpException2", {"--tcp", "127.0.0.1:0", "--fault", "exception=2"}, kProbe, EMBXILADD},
        ClientCase{"TcpSilent", {"--tcp", "127.0.0.1:0", "--fault", "silent"}, kProbe, ETIMEDOUT}),
    CaseName());

TEST(Faults, ReplyFaultDoesNotUndoTheWrite) {
  // A fault on the reply (not an exception) happens after the device has
  // carried out the request, like a disturbance on the return path.
  SimProcess sim({"--fault", "bad-crc"});
  ModbusClient client(sim.link(), 1);
  EXPECT_EQ(client.WriteSingle(10000, 55), EMBBADCRC);
  RawLine line(sim.link());
  line.Write(ReadRequestFrame(1, 3, 10000, 1));
  const Bytes got = line.ReadReply(7);
  ASSERT_EQ(got.size(), 7u);
  EXPECT_EQ(got[3], 0);
  EXPECT_EQ(got[4], 55);
}

// An echoing line returns requests for any address, answered or not.
TEST(LineFaults, EchoReturnsEveryRequest) {
  SimProcess sim({"--fault", "echo"});
  RawLine line(sim.link());
  const Bytes absent = WriteSingleFrame(9, 10080, 1);
  line.Write(absent);
  EXPECT_EQ(ToHex(line.ReadReply(absent.size())), ToHex(absent));
}

// --wire carries each byte at the baud rate and framing given (8N1 at 1200
// baud: 8.3 ms a byte): the echo as the request goes out, the reply after
// the request and a 2 ms turnaround.
TEST(LineFaults, WireCarriesTheBytesAtTheLinesRate) {
  SimProcess sim({"--fault", "echo", "--wire", "1200", "--parity", "none"});
  RawLine line(sim.link());
  const Bytes request = ReadRequestFrame(1, 3, kProbe, 1);
  const auto sent = Clock::now();
  line.Write(request);
  EXPECT_EQ(ToHex(line.ReadUpTo(request.size(), 5s)), ToHex(request));
  EXPECT_GE(Clock::now() - sent, 8 * 25ms / 3);
  EXPECT_EQ(ToHex(line.ReadReply(7, 5s)), ToHex(CorrectReply(kProbe)));
  EXPECT_GE(Clock::now() - sent, 15 * 25ms / 3 + 2ms);
}

}  // namespace
}  // namespace ktr::test
