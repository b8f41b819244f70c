// TModbus over TCP on loopback: libmodbus's TCP server (and an RTU context
// on its connection for RTU over TCP) as the independent peer, and scripted
// gateways for the failures: silence, a connection closed mid-reply, other
// transaction ids, broken headers, connects refused or never answered.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "libmodbus_slave.h"
#include "master_fixture.h"
#include "tcp_peers.h"

namespace {

using namespace ktr::test;
using ktr::RequestFailure;
using ktr::SerialErrorKind;
using ktr::TModbus;

ktr::SerialSettings TcpSettings(const std::string& portName, std::uint8_t slave = 1,
                                std::int32_t timeoutMs = 300) {
  ktr::SerialSettings s;
  s.portName = portName;  // the master takes transport, host and port from it
  s.slaveAddress = slave;
  s.timeoutMs = timeoutMs;
  return s;
}

class OverTcp : public ::testing::TestWithParam<bool> {
 protected:
  bool Rtu() const { return GetParam(); }
};

TEST_P(OverTcp, ReadsAndWritesALibmodbusServerOneConnectionPerCycle) {
  LibmodbusTcpServer server(20000, Rtu(), 7);
  server.SetRegister(8000, 12);
  server.SetRegister(8001, 0x4B54);
  TModbus master;
  ASSERT_EQ(master.OpenPort(TcpSettings(server.portName(), 7)), 0) << master.LastOpenError();
  std::array<std::uint16_t, 2> regs{};
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 2, regs.data()), 0);
  EXPECT_EQ(regs[0], 12);
  EXPECT_EQ(regs[1], 0x4B54);
  EXPECT_EQ(master.WriteSingleRegister(10082, 0x5555), 0);
  const std::uint16_t three[] = {0xFFFF, 0, 0x8001};
  EXPECT_EQ(master.WriteMultipleRegisters(14000, 3, three), 0);
  // Exceptions come through with their codes.
  std::array<std::uint16_t, 126> many{};
  EXPECT_EQ(master.ReadHoldingRegisters(10000, 126, many.data()), -53);
  EXPECT_EQ(master.LastFailure(), RequestFailure::Exception);
  EXPECT_EQ(master.ReadHoldingRegisters(19999, 2, many.data()), -52);
  EXPECT_EQ(master.ClosePort(), 0);

  // The next cycle is a connection of its own.
  ASSERT_EQ(master.OpenPort(TcpSettings(server.portName(), 7)), 0);
  std::array<std::uint16_t, 3> back{};
  ASSERT_EQ(master.ReadHoldingRegisters(14000, 3, back.data()), 0);
  EXPECT_EQ(master.ClosePort(), 0);
  EXPECT_EQ(back[0], 0xFFFF);
  EXPECT_EQ(back[1], 0);
  EXPECT_EQ(back[2], 0x8001);
  EXPECT_EQ(server.Register(10082), 0x5555);
  EXPECT_EQ(server.Connections(), 2);
}

INSTANTIATE_TEST_SUITE_P(Framings, OverTcp, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "RtuOverTcp" : "ModbusTcp"; });

// The frames on the wire, and the trace of them: MBAP header, unit id = the
// device address, no CRC; the transaction id counts up.
TEST(ModbusTcp, FramesOnTheWireCarryTheHeaderAndNoCrc) {
  ScriptedGateway gateway(false, [](const Bytes& request) {
    Bytes reply = Mbap(static_cast<std::uint16_t>(request[0] << 8 | request[1]), FromHex("07 03 02 12 34"));
    return GatewayReply{reply};
  });
  TModbus master;
  std::vector<std::string> trace;
  master.SetTrace([&trace](bool sent, const std::uint8_t* data, std::size_t n) {
    trace.push_back(std::string(sent ? "TX " : "RX ") + ToHex(Bytes(data, data + n)));
  });
  ASSERT_EQ(master.OpenPort(TcpSettings(gateway.portName(), 7)), 0);
  std::uint16_t value = 0;
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, &value), 0);
  EXPECT_EQ(value, 0x1234);
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, &value), 0);
  master.ClosePort();
  const auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(ToHex(requests[0]).substr(6), "00 00 00 06 07 03 1F 40 00 01");
  EXPECT_EQ((requests[1][0] << 8 | requests[1][1]) - (requests[0][0] << 8 | requests[0][1]), 1);
  ASSERT_EQ(trace.size(), 4U);
  EXPECT_EQ(trace[0], "TX " + ToHex(requests[0]));
  EXPECT_EQ(trace[1], "RX " + ToHex(Mbap(static_cast<std::uint16_t>(requests[0][0] << 8 | requests[0][1]),
                                         FromHex("07 03 02 12 34"))));
}

// What the master makes of a gateway's answer to a one-register read of
// device 1 (the request's transaction id is `id`).
struct GatewayCase {
  const char* name;
  bool rtu;
  std::function<GatewayReply(std::uint16_t id)> answer;
  std::int32_t result;
  RequestFailure failure;
  friend void PrintTo(const GatewayCase& c, std::ostream* os) { *os << c.name; }
};

class GatewayAnswers : public ::testing::TestWithParam<GatewayCase> {};

TEST_P(GatewayAnswers, Read) {
  const GatewayCase& c = GetParam();
  ScriptedGateway gateway(c.rtu, [&c](const Bytes& request) {
    return c.answer(static_cast<std::uint16_t>(request[0] << 8 | request[1]));
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(TcpSettings(gateway.portName(), 1, 200)), 0);
  std::uint16_t value = 0xBEEF;
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, &value), c.result);
  EXPECT_EQ(master.LastFailure(), c.failure);
  EXPECT_EQ(value, c.result == 0 ? 0x0102 : 0xBEEF);
  master.ClosePort();
}

const Bytes kReplyPdu = FromHex("01 03 02 01 02");

INSTANTIATE_TEST_SUITE_P(
    Faults, GatewayAnswers,
    ::testing::Values(
        GatewayCase{"AnswersNothing", false, [](std::uint16_t) { return GatewayReply{}; }, -4,
                    RequestFailure::NoReply},
        GatewayCase{"ClosesMidReply", false,
                    [](std::uint16_t id) {
                      const Bytes whole = Mbap(id, kReplyPdu);
                      return GatewayReply{Bytes(whole.begin(), whole.begin() + 8), true};
                    },
                    -4, RequestFailure::Port},
        GatewayCase{"OtherTransactionOnly", false,
                    [](std::uint16_t id) {
                      return GatewayReply{Mbap(static_cast<std::uint16_t>(id + 1), kReplyPdu)};
                    },
                    -4, RequestFailure::NoReply},
        GatewayCase{"OtherTransactionThenOurs", false,
                    [](std::uint16_t id) {
                      Bytes both = Mbap(static_cast<std::uint16_t>(id - 1), FromHex("01 03 02 66 66"));
                      const Bytes ours = Mbap(id, kReplyPdu);
                      both.insert(both.end(), ours.begin(), ours.end());
                      return GatewayReply{both};
                    },
                    0, RequestFailure::None},
        GatewayCase{"OtherUnitId", false,
                    [](std::uint16_t id) { return GatewayReply{Mbap(id, FromHex("02 03 02 01 02"))}; }, -4,
                    RequestFailure::NoReply},
        GatewayCase{"ProtocolIdNotModbus", false,
                    [](std::uint16_t id) { return GatewayReply{Mbap(id, kReplyPdu, 1)}; }, -4,
                    RequestFailure::BadReply},
        // The header's length counts a byte more than the byte count holds.
        GatewayCase{"LengthPastTheFrame", false,
                    [](std::uint16_t id) { return GatewayReply{Mbap(id, FromHex("01 03 02 01 02 FF"))}; }, -1,
                    RequestFailure::BadReply},
        GatewayCase{"Exception", false,
                    [](std::uint16_t id) { return GatewayReply{Mbap(id, FromHex("01 83 02"))}; }, -52,
                    RequestFailure::Exception},
        GatewayCase{"RtuAnswersNothing", true, [](std::uint16_t) { return GatewayReply{}; }, -4,
                    RequestFailure::NoReply},
        GatewayCase{"RtuClosesMidReply", true,
                    [](std::uint16_t) {
                      return GatewayReply{FromHex("01 03 02"), true};
                    },
                    -4, RequestFailure::Port},
        GatewayCase{"RtuReply", true, [](std::uint16_t) { return GatewayReply{WithCrc(kReplyPdu)}; }, 0,
                    RequestFailure::None}),
    [](const auto& param) { return std::string(param.param.name); });

// A bad reply breaks the stream; the next request of the cycle starts on a
// clean one.
TEST(ModbusTcp, NextRequestAfterABrokenHeaderIsAnswered) {
  int n = 0;
  ScriptedGateway gateway(false, [&n](const Bytes& request) {
    const auto id = static_cast<std::uint16_t>(request[0] << 8 | request[1]);
    return GatewayReply{Mbap(id, kReplyPdu, ++n == 1 ? 7 : 0)};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(TcpSettings(gateway.portName(), 1, 200)), 0);
  std::uint16_t value = 0;
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, &value), -4);
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, &value), 0);
  EXPECT_EQ(value, 0x0102);
}

// Opens that fail: each is -1 with its reason, nothing is sent.
TEST(ModbusTcp, OpenFailuresSayWhy) {
  RefusingPort refusing;
  UnansweredPort unanswered;
  struct {
    std::string name;
    SerialErrorKind kind;
    std::string reason;  // part of LastOpenError()
  } const cases[] = {
      {"tcp://", SerialErrorKind::BadAddress, "bad port address 'tcp://': no host name"},
      {"tcp://127.0.0.1:99999", SerialErrorKind::BadAddress, "port 99999 is out of range"},
      {"tcp://127.0.0.1:" + std::to_string(refusing.port()), SerialErrorKind::Refused,
       "connect 127.0.0.1:" + std::to_string(refusing.port()) + ": Connection refused"},
      {"rtu+tcp://127.0.0.1:" + std::to_string(refusing.port()), SerialErrorKind::Refused,
       "Connection refused"},
      {"tcp://127.0.0.1:" + std::to_string(unanswered.port()), SerialErrorKind::Timeout,
       "no answer within the time-out"},
      {"tcp://ktr-no-such-host.invalid", SerialErrorKind::NoHost, "resolve ktr-no-such-host.invalid: "},
  };
  TModbus master;
  for (const auto& c : cases) {
    EXPECT_EQ(master.OpenPort(TcpSettings(c.name, 1, 200)), -1) << c.name;
    EXPECT_EQ(master.LastOpenFailure().kind, c.kind) << c.name;
    EXPECT_NE(master.LastOpenError().find(c.reason), std::string::npos)
        << c.name << ": " << master.LastOpenError();
    EXPECT_EQ(master.LastFailure(), RequestFailure::Port);
    std::uint16_t value = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, &value), -1) << c.name;
  }
}

// A TCP open closes the serial port held from an earlier open, and back.
TEST(ModbusTcp, OpenOfTheOtherKindReleasesThePort) {
  PtyPair pty;
  LibmodbusTcpServer server(100);
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  ASSERT_EQ(master.OpenPort(TcpSettings(server.portName())), 0);
  ktr::SerialPort other;
  EXPECT_EQ(other.Open(pty.slavePath(), ktr::LineSettings{}), ktr::SerialPort::kOk);
  other.Close();
  std::uint16_t value = 0;
  EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value), 0);
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value), -4);  // nobody on the pty
  EXPECT_EQ(server.Connections(), 1);
}

}  // namespace
