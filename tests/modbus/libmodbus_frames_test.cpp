// Our request frames against the frames that libmodbus sends for the same
// requests: a libmodbus client writes into a pseudo-terminal and the test
// reads what arrives on the other side.
#include <gtest/gtest.h>
#include <modbus.h>

#include <array>
#include <functional>

#include "pty_pair.h"
#include "rtu_frame.h"

namespace {

using ktr::test::Bytes;
using ktr::test::PtyPair;
using ktr::test::ToHex;

struct Case {
  const char* name;
  std::function<void(modbus_t*)> libmodbusRequest;
  std::function<std::size_t(std::uint8_t*)> ours;
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class AgainstLibmodbus : public ::testing::TestWithParam<Case> {};

TEST_P(AgainstLibmodbus, SameBytes) {
  PtyPair pty;
  modbus_t* ctx = modbus_new_rtu(pty.slavePath().c_str(), 19200, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(modbus_connect(ctx), 0);
  modbus_set_slave(ctx, 17);
  modbus_set_response_timeout(ctx, 0, 20000);  // nobody answers
  GetParam().libmodbusRequest(ctx);
  const Bytes sent = pty.DrainMaster(50);
  modbus_close(ctx);
  modbus_free(ctx);

  std::array<std::uint8_t, rtu::kFrameBufferSize> out{};
  const std::size_t n = GetParam().ours(out.data());
  EXPECT_EQ(ToHex(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n))), ToHex(sent));
}

std::uint16_t regs16[127];
std::uint8_t unpacked[2040];

INSTANTIATE_TEST_SUITE_P(
    Functions, AgainstLibmodbus,
    ::testing::Values(
        Case{"ReadHolding", [](modbus_t* c) { modbus_read_registers(c, 8000, 1, regs16); },
             [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 3, 8000, 1); }},
        Case{"ReadHolding125", [](modbus_t* c) { modbus_read_registers(c, 14600, 125, regs16); },
             [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 3, 14600, 125); }},
        Case{"ReadInput", [](modbus_t* c) { modbus_read_input_registers(c, 8, 2, regs16); },
             [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 4, 8, 2); }},
        Case{"ReadCoils", [](modbus_t* c) { modbus_read_bits(c, 19, 10, unpacked); },
             [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 1, 19, 10); }},
        Case{"ReadDiscreteInputs", [](modbus_t* c) { modbus_read_input_bits(c, 19, 10, unpacked); },
             [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 2, 19, 10); }},
        Case{"WriteSingleCoil", [](modbus_t* c) { modbus_write_bit(c, 25, 1); },
             [](std::uint8_t* o) { return rtu::BuildWriteSingleRequest(o, 17, 5, 25, 0xFF00); }},
        Case{"WriteSingleRegister", [](modbus_t* c) { modbus_write_register(c, 10082, 0x5555); },
             [](std::uint8_t* o) { return rtu::BuildWriteSingleRequest(o, 17, 6, 10082, 0x5555); }},
        Case{"WriteRegisters",
             [](modbus_t* c) {
               const std::uint16_t v[] = {0x1234, 0xFFFF, 0, 0x8001};
               modbus_write_registers(c, 14000, 4, v);
             },
             [](std::uint8_t* o) {
               const std::uint16_t v[] = {0x1234, 0xFFFF, 0, 0x8001};
               return rtu::BuildWriteRegistersRequest(o, 17, 14000, 4, v);
             }},
        Case{"WriteRegisters123",
             [](modbus_t* c) {
               for (int i = 0; i < 123; ++i) regs16[i] = static_cast<std::uint16_t>(i * 517);
               modbus_write_registers(c, 100, 123, regs16);
             },
             [](std::uint8_t* o) {
               for (int i = 0; i < 123; ++i) regs16[i] = static_cast<std::uint16_t>(i * 517);
               return rtu::BuildWriteRegistersRequest(o, 17, 100, 123, regs16);
             }},
        Case{"WriteCoils",
             [](modbus_t* c) {
               const std::uint8_t v[] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
               modbus_write_bits(c, 19, 10, v);
             },
             [](std::uint8_t* o) {
               const std::uint8_t v[] = {0xCD, 0x01};
               return rtu::BuildWriteCoilsRequest(o, 17, 19, 10, v);
             }}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
