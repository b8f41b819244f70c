#include "rtu_frame.h"

#include <array>

namespace rtu {
namespace {

// The two byte tables of the reflected CRC-16/MODBUS table (polynomial 0xA001),
// generated at compile time: kCrcHigh[i] and kCrcLow[i] are the high and low
// bytes of the CRC of the single byte i.
struct CrcTables {
  std::array<std::uint8_t, 256> high{};
  std::array<std::uint8_t, 256> low{};
};

constexpr CrcTables MakeCrcTables() {
  CrcTables t;
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
    t.high[i] = static_cast<std::uint8_t>(crc >> 8);
    t.low[i] = static_cast<std::uint8_t>(crc & 0xFFU);
  }
  return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

std::size_t PutHeader(std::uint8_t* out, std::uint8_t slave, std::uint8_t function,
                      std::uint16_t a, std::uint16_t b) {
  out[0] = slave;
  out[1] = function;
  out[2] = static_cast<std::uint8_t>(a >> 8);
  out[3] = static_cast<std::uint8_t>(a & 0xFF);
  out[4] = static_cast<std::uint8_t>(b >> 8);
  out[5] = static_cast<std::uint8_t>(b & 0xFF);
  return 6;
}

std::size_t AppendCrc(std::uint8_t* out, std::size_t length) {
  const std::uint16_t crc = Crc16(out, length);
  out[length] = static_cast<std::uint8_t>(crc & 0xFF);  // low byte first on the wire
  out[length + 1] = static_cast<std::uint8_t>(crc >> 8);
  return length + 2;
}

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t length) {
  // The running CRC is kept as its two bytes, as the tables are byte tables.
  std::uint8_t high = 0xFF;
  std::uint8_t low = 0xFF;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t index = low ^ data[i];
    low = high ^ kCrc.low[index];
    high = kCrc.high[index];
  }
  return static_cast<std::uint16_t>((high << 8) | low);
}

bool IsKnownFunction(std::uint8_t function) {
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      return true;
    default:
      return false;
  }
}

bool Fits(std::uint8_t function, std::uint16_t count) {
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
      return count >= 1 && count <= kMaxReadBits;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      return count >= 1 && count <= kMaxReadRegisters;
    case kWriteSingleCoil:
    case kWriteSingleRegister:
      return true;
    case kWriteMultipleCoils:
      return count >= 1 && count <= kMaxWriteBits;
    case kWriteMultipleRegisters:
      return count >= 1 && count <= kMaxWriteRegisters;
    default:
      return false;
  }
}

std::uint8_t WriteByteCount(std::uint8_t function, std::uint16_t count) {
  if (function == kWriteMultipleCoils) {
    return static_cast<std::uint8_t>((count + 7U) / 8U);
  }
  return static_cast<std::uint8_t>((2U * count) & 0xFFU);
}

std::size_t RequestLength(std::uint8_t function, std::uint16_t count) {
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
    case kWriteSingleCoil:
    case kWriteSingleRegister:
      return 8;
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      return 9U + WriteByteCount(function, count);
    default:
      return 0;
  }
}

std::size_t ExpectedReplyLength(std::uint8_t function, std::uint16_t count) {
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
      return 5U + (count + 7U) / 8U;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      return 5U + 2U * count;
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      return 8;
    default:
      return 0;
  }
}

std::size_t BuildReadRequest(std::uint8_t* out, std::uint8_t slave, std::uint8_t function,
                             std::uint16_t start, std::uint16_t count) {
  return AppendCrc(out, PutHeader(out, slave, function, start, count));
}

std::size_t BuildWriteSingleRequest(std::uint8_t* out, std::uint8_t slave, std::uint8_t function,
                                    std::uint16_t address, std::uint16_t value) {
  return AppendCrc(out, PutHeader(out, slave, function, address, value));
}

std::size_t BuildWriteRegistersRequest(std::uint8_t* out, std::uint8_t slave, std::uint16_t start,
                                       std::uint16_t count, const std::uint16_t* registers) {
  std::size_t n = PutHeader(out, slave, kWriteMultipleRegisters, start, count);
  const std::uint8_t byteCount = WriteByteCount(kWriteMultipleRegisters, count);
  out[n++] = byteCount;
  for (std::size_t i = 0; i < byteCount / 2U; ++i) {
    out[n++] = static_cast<std::uint8_t>(registers[i] >> 8);
    out[n++] = static_cast<std::uint8_t>(registers[i] & 0xFF);
  }
  return AppendCrc(out, n);
}

std::size_t BuildWriteCoilsRequest(std::uint8_t* out, std::uint8_t slave, std::uint16_t start,
                                   std::uint16_t count, const std::uint8_t* bits) {
  std::size_t n = PutHeader(out, slave, kWriteMultipleCoils, start, count);
  const std::uint8_t byteCount = WriteByteCount(kWriteMultipleCoils, count);
  out[n++] = byteCount;
  for (std::size_t i = 0; i < byteCount; ++i) {
    out[n++] = bits[i];
  }
  return AppendCrc(out, n);
}

int ExceptionResult(std::uint8_t code) {
  return -50 - static_cast<int>(code);
}

}  // namespace rtu
