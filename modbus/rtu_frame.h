// Modbus RTU framing: request frames, expected reply lengths and the CRC.
// Pure functions over byte buffers; no I/O and no OS headers, so every
// frame can be checked from hex strings.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rtu {

// Size of the worker's transmit and receive buffers. Every request and every
// expected reply must fit in it.
inline constexpr std::size_t kFrameBufferSize = 300;

// Modbus function codes the master builds.
enum Function : std::uint8_t {
  kReadCoils = 1,
  kReadDiscreteInputs = 2,
  kReadHoldingRegisters = 3,
  kReadInputRegisters = 4,
  kWriteSingleCoil = 5,
  kWriteSingleRegister = 6,
  kWriteMultipleCoils = 15,
  kWriteMultipleRegisters = 16,
};

// Largest counts whose request and reply fit kFrameBufferSize with a one-byte
// byte count: 5 + 2 * 147 = 299 for a register read; 2 * 127 = 254 data bytes
// for a register write (128 would wrap the byte count to 0).
inline constexpr std::uint16_t kMaxReadRegisters = 147;
inline constexpr std::uint16_t kMaxWriteRegisters = 127;
inline constexpr std::uint16_t kMaxReadBits = (kFrameBufferSize - 5) * 8;  // 2360
inline constexpr std::uint16_t kMaxWriteBits = 255 * 8;                    // 2040

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final
// inversion), computed through two 256-entry tables that hold the high and
// low bytes of the reflected table, so the running value is two bytes.
// Check value over "123456789": 0x4B37. A frame with its CRC appended (low
// byte first) yields 0.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t length);

// True when the function is one of the eight the master knows.
bool IsKnownFunction(std::uint8_t function);

// True when a request of this function and count, and its reply, fit the
// frame buffers. A count of 0 never fits; single writes always fit.
bool Fits(std::uint8_t function, std::uint16_t count);

// Length of the request frame, CRC included: 8 for functions 1-6, 9 plus the
// byte count for 15 and 16. 0 for an unknown function.
std::size_t RequestLength(std::uint8_t function, std::uint16_t count);

// Length of a correct reply, CRC included: 5 + ceil(count / 8) for 1 and 2,
// 5 + 2 * count for 3 and 4, 8 for the writes. 0 for an unknown function.
std::size_t ExpectedReplyLength(std::uint8_t function, std::uint16_t count);

// Byte count field of a write-multiple request: ceil(count / 8) for coils,
// 2 * count modulo 256 for registers.
std::uint8_t WriteByteCount(std::uint8_t function, std::uint16_t count);

// Request builders. Each writes the whole frame with its CRC (low byte first)
// into out, which must hold RequestLength() bytes, and returns that length.
std::size_t BuildReadRequest(std::uint8_t* out, std::uint8_t slave, std::uint8_t function,
                             std::uint16_t start, std::uint16_t count);
std::size_t BuildWriteSingleRequest(std::uint8_t* out, std::uint8_t slave, std::uint8_t function,
                                    std::uint16_t address, std::uint16_t value);
// Registers are host-order values, sent high byte first.
std::size_t BuildWriteRegistersRequest(std::uint8_t* out, std::uint8_t slave, std::uint16_t start,
                                       std::uint16_t count, const std::uint16_t* registers);
// Coils are packed eight to a byte as on the wire and sent unchanged.
std::size_t BuildWriteCoilsRequest(std::uint8_t* out, std::uint8_t slave, std::uint16_t start,
                                   std::uint16_t count, const std::uint8_t* bits);

// Result code of an exception reply: codes 1-4 give -51..-54, any other code
// gives -50 - code.
int ExceptionResult(std::uint8_t code);

}  // namespace rtu
