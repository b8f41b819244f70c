// TModbus against real peers on pseudo-terminals: a libmodbus slave and a
// scripted device that sends exact bytes.
#include <gtest/gtest.h>

#include <array>

#include "libmodbus_slave.h"
#include "master_fixture.h"
#include "master_test_access.h"
#include "scripted_device.h"
#include "serial_port.h"

namespace {

using namespace ktr::test;
using ktr::TModbus;

TEST(ModbusMaster, ReadsAndWritesALibmodbusSlave) {
  PtyPair pty;
  LibmodbusSlave slave(pty, 7, 20000);
  slave.SetRegister(8000, 12);
  slave.SetRegister(8001, 0x4B54);
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty, 7)), 0);

  std::array<std::uint16_t, 2> regs{};
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 2, regs.data()), 0);
  EXPECT_EQ(regs[0], 12);
  EXPECT_EQ(regs[1], 0x4B54);

  EXPECT_EQ(master.WriteSingleRegister(10082, 0x5555), 0);
  const std::uint16_t three[] = {0xFFFF, 0, 0x8001};
  EXPECT_EQ(master.WriteMultipleRegisters(14000, 3, three), 0);
  std::array<std::uint16_t, 3> back{};
  ASSERT_EQ(master.ReadHoldingRegisters(14000, 3, back.data()), 0);
  EXPECT_EQ(back[0], 0xFFFF);
  EXPECT_EQ(back[1], 0);
  EXPECT_EQ(back[2], 0x8001);
  EXPECT_EQ(slave.Register(10082), 0x5555);

  // libmodbus keeps to the protocol's 125-register limit and refuses more
  // with an exception, which the master reports as such.
  std::array<std::uint16_t, 147> many{};
  EXPECT_EQ(master.ReadHoldingRegisters(10000, 125, many.data()), 0);
  EXPECT_EQ(master.ReadHoldingRegisters(10000, 126, many.data()), -53);

  // Coils travel packed eight to a byte.
  const std::uint8_t coils[] = {0xCD, 0x01};
  EXPECT_EQ(master.WriteMultipleCoils(19, 10, coils), 0);
  std::uint8_t readBack[2] = {};
  EXPECT_EQ(master.ReadCoils(19, 10, readBack), 0);
  EXPECT_EQ(readBack[0], 0xCD);
  EXPECT_EQ(readBack[1] & 0x03, 0x01);
  EXPECT_EQ(master.WriteSingleCoil(19, 0x0000), 0);
  EXPECT_EQ(master.ReadCoils(19, 1, readBack), 0);
  EXPECT_EQ(readBack[0] & 1, 0);
  EXPECT_EQ(master.ClosePort(), 0);
}

TEST(ModbusMaster, RegisterBytesArriveHighByteFirst) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) {
    return ScriptedReply{ReadReplyFrame(1, {0x0001, 0x0002, 0x0003, 0x1234})};
  });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  std::array<std::uint16_t, 4> regs{};
  ASSERT_EQ(master.ReadHoldingRegisters(10000, 4, regs.data()), 0);
  EXPECT_EQ(regs[0], 1);
  EXPECT_EQ(regs[1], 2);
  EXPECT_EQ(regs[2], 3);
  EXPECT_EQ(regs[3], 0x1234);
  EXPECT_EQ(ToHex(device.Requests().at(0)), ToHex(WithCrc(FromHex("01 03 27 10 00 04"))));
}

TEST(ModbusMaster, WriteOfThreeRegistersSendsFifteenBytes) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes& req) { return ScriptedReply{WriteEchoFrame(req)}; });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  const std::uint16_t v[] = {1, 2, 10};
  ASSERT_EQ(master.WriteMultipleRegisters(10001, 3, v), 0);
  ASSERT_EQ(device.Requests().size(), 1U);
  EXPECT_EQ(ToHex(device.Requests()[0]), "01 10 27 11 00 03 06 00 01 00 02 00 0A 1B 63");
}

TEST(ModbusMaster, ClosedPortSendsNothing) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) { return ScriptedReply{ReadReplyFrame(1, {5})}; });
  TModbus master;
  std::array<std::uint16_t, 1> regs{0xBEEF};
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), -1);
  EXPECT_EQ(master.WriteSingleRegister(8000, 1), -1);
  const std::uint16_t v[] = {1};
  EXPECT_EQ(master.WriteMultipleRegisters(8000, 1, v), -1);
  EXPECT_EQ(regs[0], 0xBEEF);
  EXPECT_EQ(master.ClosePort(), 0);  // closing a closed port
  // After a close, likewise.
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  EXPECT_EQ(master.ClosePort(), 0);
  EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), -1);
  EXPECT_EQ(master.LastFailure(), ktr::RequestFailure::Port);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(device.Requests().empty());
  EXPECT_EQ(regs[0], 0xBEEF);
}

TEST(ModbusMaster, OpenOfMissingPortIsMinusOne) {
  TModbus master;
  ktr::SerialSettings s;
  s.portName = "/dev/ktr-no-such-port";
  EXPECT_EQ(master.OpenPort(s), -1);
  EXPECT_NE(master.LastOpenError().find("ktr-no-such-port"), std::string::npos);
  EXPECT_EQ(master.LastFailure(), ktr::RequestFailure::Port);
  s.portName = "";
  EXPECT_EQ(master.OpenPort(s), -1);
}

TEST(ModbusMaster, InvalidCommandReturnsToIdleAndKeepsResult) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes&) { return ScriptedReply{WithCrc({1, 0x83, 2})}; });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  std::array<std::uint16_t, 1> regs{};
  ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), -52);
  const auto taken = MasterTestAccess::CommandsTaken(master);
  for (std::uint16_t bogus :
       {std::uint16_t{7}, std::uint16_t{0}, std::uint16_t{255}, std::uint16_t{258}, std::uint16_t{0xFFFE}}) {
    EXPECT_EQ(master.PostCommand(bogus), -52) << bogus;
  }
  EXPECT_EQ(MasterTestAccess::CommandsTaken(master), taken + 5);  // each was taken and dropped
  EXPECT_EQ(device.Requests().size(), 1U);
  // The worker still serves real commands afterwards.
  EXPECT_EQ(master.ClosePort(), 0);
}

TEST(ModbusMaster, ReopenAfterCloseUsesNewSettings) {
  PtyPair pty;
  ScriptedDevice device(pty,
                        [](const Bytes& req) { return ScriptedReply{ReadReplyFrame(req[0], {req[0]})}; });
  TModbus master;
  std::array<std::uint16_t, 1> regs{};
  for (std::uint8_t address : {std::uint8_t{3}, std::uint8_t{126}}) {
    ASSERT_EQ(master.OpenPort(PtySettings(pty, address)), 0);
    ASSERT_EQ(master.ReadHoldingRegisters(8000, 1, regs.data()), 0);
    EXPECT_EQ(regs[0], address);
    EXPECT_EQ(master.ClosePort(), 0);
  }
  const auto requests = device.Requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[0][0], 3);
  EXPECT_EQ(requests[1][0], 126);
}

TEST(ModbusMaster, ReopenWithoutCloseReleasesTheOldPort) {
  PtyPair first;
  PtyPair second;
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(first)), 0);
  ASSERT_EQ(master.OpenPort(PtySettings(second)), 0);
  // The first port was closed by the second open: another user can take it.
  ktr::SerialPort other;
  EXPECT_EQ(other.Open(first.slavePath(), ktr::LineSettings{}), ktr::SerialPort::kOk);
  ktr::SerialPort blocked;
  EXPECT_EQ(blocked.Open(second.slavePath(), ktr::LineSettings{}), ktr::SerialPort::kCannotOpen);
}

TEST(ModbusMaster, RequestsThatDoNotFitAreRefusedUnsent) {
  PtyPair pty;
  ScriptedDevice device(pty, [](const Bytes& req) { return ScriptedReply{WriteEchoFrame(req)}; });
  TModbus master;
  ASSERT_EQ(master.OpenPort(PtySettings(pty)), 0);
  std::array<std::uint16_t, 200> regs{};
  regs.fill(0xABCD);
  EXPECT_EQ(master.ReadHoldingRegisters(8001, 148, regs.data()), -1);
  EXPECT_EQ(master.LastFailure(), ktr::RequestFailure::Refused);
  EXPECT_EQ(master.ReadHoldingRegisters(8001, 0, regs.data()), -1);
  EXPECT_EQ(master.WriteMultipleRegisters(14000, 128, regs.data()), -1);
  EXPECT_EQ(master.WriteMultipleRegisters(14000, 0, regs.data()), -1);
  EXPECT_EQ(master.ReadHoldingRegisters(8001, 1, nullptr), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(device.Requests().empty());
  EXPECT_EQ(regs[0], 0xABCD);
  // The largest write that fits goes out whole.
  EXPECT_EQ(master.WriteMultipleRegisters(14000, 127, regs.data()), 0);
  ASSERT_EQ(device.Requests().size(), 1U);
  EXPECT_EQ(device.Requests()[0].size(), 9U + 254U);
}

}  // namespace
