#include "rtu_frame.h"

#include <algorithm>
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

std::size_t PutHeader(std::uint8_t* out, std::uint8_t slave, std::uint8_t function, std::uint16_t a,
                      std::uint16_t b) {
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
    case kWriteMultipleRegisters: return true;
    default: return false;
  }
}

bool Fits(std::uint8_t function, std::uint16_t count) {
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs: return count >= 1 && count <= kMaxReadBits;
    case kReadHoldingRegisters:
    case kReadInputRegisters: return count >= 1 && count <= kMaxReadRegisters;
    case kWriteSingleCoil:
    case kWriteSingleRegister: return true;
    case kWriteMultipleCoils: return count >= 1 && count <= kMaxWriteBits;
    case kWriteMultipleRegisters: return count >= 1 && count <= kMaxWriteRegisters;
    default: return false;
  }
}

std::uint8_t WriteByteCount(std::uint8_t function, std::uint16_t count) {
  if (function == kWriteMultipleCoils) {
    return static_cast<std::uint8_t>((count + 7U) / 8U);
  }
  return static_cast<std::uint8_t>((2U * count) & 0xFFU);
}

std::size_t ExpectedReplyLength(std::uint8_t function, std::uint16_t count) {
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs: return 5U + (count + 7U) / 8U;
    case kReadHoldingRegisters:
    case kReadInputRegisters: return 5U + 2U * count;
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters: return 8;
    default: return 0;
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

std::int64_t CharacterTimeNs(std::int32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                             std::uint8_t stopBits) {
  const std::int64_t halfBits = 2 * (1 + dataBits + (parity != 0 ? 1 : 0)) + (stopBits == 0   ? 2
                                                                              : stopBits == 1 ? 3
                                                                                              : 4);
  const std::int64_t baud = baudRate > 0 ? baudRate : 1;
  return halfBits * 500'000'000 / baud;
}

std::int64_t QuietTimeNs(std::int32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                         std::uint8_t stopBits) {
  const std::int64_t quiet = CharacterTimeNs(baudRate, dataBits, parity, stopBits) * 7 / 2;
  return quiet > 1'750'000 ? quiet : 1'750'000;
}

namespace {

enum class Ours : std::uint8_t { kNotOurs, kIncomplete, kReply, kException, kBadCrc, kCut };

bool IsRead(std::uint8_t function) { return function >= kReadCoils && function <= kReadInputRegisters; }

// Judges the bytes at p as the reply to the request.
Ours CheckOurs(const ReplyRule& rule, const std::uint8_t* p, std::size_t avail, bool final,
               std::uint8_t* code) {
  const std::uint8_t* req = rule.request;
  if (p[0] != req[0]) return Ours::kNotOurs;
  if (avail < 2) return final ? Ours::kCut : Ours::kIncomplete;
  const std::uint8_t function = req[1];
  if (p[1] == (function | 0x80U)) {
    if (avail >= 3) *code = p[2];
    if (avail >= 5 && Crc16(p, 5) == 0) return Ours::kException;
    // As many bytes as the reply has: judged by its CRC, like any full reply.
    if (avail >= rule.expected) return Ours::kBadCrc;
    if (!final) return Ours::kIncomplete;
    return avail >= 3 ? Ours::kException : Ours::kCut;
  }
  if (p[1] != function) return Ours::kNotOurs;
  if (IsRead(function)) {
    if (avail < 3) return final ? Ours::kCut : Ours::kIncomplete;
    // A one-byte field: 128 registers (256 bytes) read as 0.
    if (p[2] != static_cast<std::uint8_t>(rule.expected - 5)) return Ours::kNotOurs;
  }
  if (avail < rule.expected) return final ? Ours::kCut : Ours::kIncomplete;
  if (Crc16(p, rule.expected) != 0) return Ours::kBadCrc;
  if (!IsRead(function)) {
    for (std::size_t i = 2; i < 6; ++i) {
      if (p[i] != req[i]) return Ours::kNotOurs;  // the reply to another write
    }
  }
  return Ours::kReply;
}

// Length of the reply frame that starts at p, as its function code gives
// it: 0 when the function is none a reply can have, SIZE_MAX when more
// bytes are needed to tell.
std::size_t OtherFrameLength(const std::uint8_t* p, std::size_t avail) {
  constexpr std::size_t kNeedMore = static_cast<std::size_t>(-1);
  if (avail < 2) return kNeedMore;
  const std::uint8_t function = p[1];
  if ((function & 0x80U) != 0) return 5;
  // A read reply carries at least one data byte: a byte count of 0 is 256
  // that wrapped (a read of 128 registers).
  if (IsRead(function)) return avail < 3 ? kNeedMore : 5U + (p[2] == 0 ? 256U : p[2]);
  if (function == kWriteSingleCoil || function == kWriteSingleRegister || function == kWriteMultipleCoils ||
      function == kWriteMultipleRegisters) {
    return 8;
  }
  return 0;
}

ReplyScan ScanFrom(const ReplyRule& rule, const std::uint8_t* data, std::size_t size, bool final,
                   std::size_t pos, ReplyScan state) {
  for (;;) {
    ReplyScan& s = state;
    if (pos >= size) {
      s.verdict = final ? ReplyVerdict::kNone : ReplyVerdict::kWaiting;
      return s;
    }
    const std::uint8_t* p = data + pos;
    const std::size_t avail = size - pos;
    std::uint8_t code = 0;
    const auto decided = [&](Ours ours) {
      s.start = pos;
      s.code = code;
      s.verdict = ours == Ours::kReply       ? ReplyVerdict::kReply
                  : ours == Ours::kException ? ReplyVerdict::kException
                                             : ReplyVerdict::kBadCrc;
      return s;
    };

    // The echo: the request byte for byte, once, before the reply.
    if (rule.echo != EchoRule::kNone && !s.echoSeen) {
      const std::size_t m = avail < rule.requestLength ? avail : rule.requestLength;
      bool copy = true;
      for (std::size_t i = 0; i < m && copy; ++i) copy = p[i] == rule.request[i];
      if (copy && m == rule.requestLength) {
        s.echoSeen = true;
        pos += m;
        continue;
      }
      if (copy && !final) {
        // The start of the echo, or a reply shorter than the request that
        // begins like it (a read of one register).
        if (rule.echo == EchoRule::kDrop) {
          const Ours ours = CheckOurs(rule, p, avail, false, &code);
          if (ours == Ours::kReply || ours == Ours::kException) return decided(ours);
        }
        s.verdict = ReplyVerdict::kWaiting;
        return s;
      }
    }

    const Ours ours = CheckOurs(rule, p, avail, final, &code);
    if (ours == Ours::kException && rule.lateExceptionPossible && !s.held && avail >= 5) {
      // Perhaps an earlier request's late exception: held, and the scan
      // goes on for a reply behind it.
      s.held = true;
      s.heldStart = pos;
      s.heldCode = code;
      pos += 5;
      continue;
    }
    switch (ours) {
      case Ours::kReply:
      case Ours::kException:
      case Ours::kBadCrc: return decided(ours);
      case Ours::kIncomplete: s.verdict = ReplyVerdict::kWaiting; return s;
      case Ours::kCut: s.verdict = ReplyVerdict::kNone; return s;
      case Ours::kNotOurs: break;
    }

    // Someone else's frame: dropped whole once its CRC shows it is one.
    const std::size_t length = OtherFrameLength(p, avail);
    if (length != 0 && length <= avail && Crc16(p, length) == 0) {
      ++s.dropped;
      if (p[0] == rule.request[0]) ++s.droppedOwn;
      pos += length;
      continue;
    }
    if (length != 0 && length > avail && !final) {
      // Not whole yet; but if the byte is noise, the reply may already be
      // complete right behind it.
      if (s.skipped < kMaxSkippedBytes) {
        ReplyScan past = s;
        ++past.skipped;
        past = ScanFrom(rule, data, size, false, pos + 1, past);
        if (past.verdict == ReplyVerdict::kReply || past.verdict == ReplyVerdict::kException) {
          return past;
        }
      }
      s.verdict = ReplyVerdict::kWaiting;
      return s;
    }
    if (s.skipped == kMaxSkippedBytes) {
      s.verdict = ReplyVerdict::kNoise;
      return s;
    }
    ++s.skipped;
    ++pos;
  }
}

}  // namespace

ReplyScan ScanReply(const ReplyRule& rule, const std::uint8_t* data, std::size_t size, bool final) {
  ReplyScan s = ScanFrom(rule, data, size, final, 0, ReplyScan{});
  if (final && s.held && (s.verdict == ReplyVerdict::kNone || s.verdict == ReplyVerdict::kNoise)) {
    // Nothing better came: the held exception was this request's.
    s.verdict = ReplyVerdict::kException;
    s.start = s.heldStart;
    s.code = s.heldCode;
  }
  return s;
}

bool RepliesConfusable(const std::uint8_t* earlier, const std::uint8_t* later) {
  if (earlier[0] != later[0] || earlier[1] != later[1]) return false;
  const std::uint8_t function = later[1];
  if (IsRead(function)) {
    // The reply carries only the byte count: 9 and 16 coils both take two.
    const auto count = [](const std::uint8_t* r) { return static_cast<std::uint16_t>(r[4] << 8 | r[5]); };
    return ExpectedReplyLength(function, count(earlier)) == ExpectedReplyLength(function, count(later));
  }
  if (function == kWriteSingleCoil || function == kWriteSingleRegister || function == kWriteMultipleCoils ||
      function == kWriteMultipleRegisters) {
    return std::equal(earlier + 2, earlier + 6, later + 2);
  }
  return true;
}

}  // namespace rtu
