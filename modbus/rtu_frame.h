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

// Length of a correct reply, CRC included: 5 + ceil(count / 8) for 1 and 2,
// 5 + 2 * count for 3 and 4, 8 for the writes. 0 for an unknown function.
std::size_t ExpectedReplyLength(std::uint8_t function, std::uint16_t count);

// Byte count field of a write-multiple request: ceil(count / 8) for coils,
// 2 * count modulo 256 for registers.
std::uint8_t WriteByteCount(std::uint8_t function, std::uint16_t count);

// Request builders. Each writes the whole frame with its CRC (low byte first)
// into out and returns its length: 8 for functions 1-6, 9 plus the byte count
// for 15 and 16.
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

// Time one character takes on the line, in nanoseconds: start bit, data
// bits, parity bit (parity 1 odd or 2 even) and stop bits (code 0 one, 1 one
// and a half, 2 two) at the baud rate.
std::int64_t CharacterTimeNs(std::int32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                             std::uint8_t stopBits);

// The silence that ends a frame: 3.5 character times, and at least 1.75 ms
// (the fixed value that the Modbus serial line guide gives above 19200 baud).
std::int64_t QuietTimeNs(std::int32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                         std::uint8_t stopBits);

// --- Finding the reply in what the line delivers -----------------------------

// How a copy of the request on the line (the local echo of an adapter that
// hears its own transmission) is treated.
enum class EchoRule : std::uint8_t {
  kNone,      // no echo expected: a copy of the request is bytes like any others
  kDrop,      // one copy of the request before the reply is the echo, dropped
  kRequired,  // the first copy of the request is the echo, whatever follows;
              // for writes 5 and 6, whose reply is the request byte for byte
};

struct ReplyRule {
  const std::uint8_t* request = nullptr;  // the frame sent, CRC included
  std::size_t requestLength = 0;
  std::size_t expected = 0;  // ExpectedReplyLength() of the request
  EchoRule echo = EchoRule::kNone;
  // An earlier request to the same device with the same function went
  // unanswered, so an exception frame may be its late answer rather than
  // this request's (an exception carries only address, function and code).
  // The first exception is then held while the line may still deliver this
  // request's own reply, and is taken only when nothing else has come by
  // the deadline.
  bool lateExceptionPossible = false;
};

enum class ReplyVerdict : std::uint8_t {
  kWaiting,    // nothing decided yet: more bytes may settle it
  kReply,      // the reply: `expected` bytes at `start`, CRC good
  kException,  // an exception reply of this request: `code`
  kBadCrc,     // a full-length reply of this request whose CRC is wrong
  kNoise,      // more than kMaxSkippedBytes bytes that are no frame
  kNone,       // (final scans) no reply among the bytes: none came, or part of one
};

// Leading bytes that cannot start the reply (noise at the bus turnaround)
// skipped before the bytes are given up on.
inline constexpr std::size_t kMaxSkippedBytes = 4;

struct ReplyScan {
  ReplyVerdict verdict = ReplyVerdict::kWaiting;
  std::size_t start = 0;       // kReply, kBadCrc: offset of the frame
  std::uint8_t code = 0;       // kException
  bool echoSeen = false;       // a copy of the request was dropped
  std::size_t skipped = 0;     // bytes skipped that were no frame
  std::size_t dropped = 0;     // whole frames with a good CRC that were not the reply
  std::size_t droppedOwn = 0;  // of those, frames from the request's address (a late reply)
  bool held = false;           // an exception held under lateExceptionPossible
  std::size_t heldStart = 0;
  std::uint8_t heldCode = 0;
};

// Looks for the reply to `rule.request` in the bytes received since it was
// sent. The reply must come from the request's address with its function
// (or function | 0x80 for an exception), with the expected byte count for
// reads and the request's address and value (or count) fields for writes;
// anything else with a good CRC (a late reply of another device, a reply
// to an earlier request) is dropped whole, and up to kMaxSkippedBytes bytes
// that start no frame are skipped. `final` says no more bytes will come (the
// deadline has passed): what is still incomplete is then judged as it is;
// a cut exception frame of at least three bytes still gives its code.
ReplyScan ScanReply(const ReplyRule& rule, const std::uint8_t* data, std::size_t size, bool final);

// Whether a reply to `earlier` would pass ScanReply as the reply to `later`
// (both requests, at least 6 bytes): same address and function, and the
// same quantity for reads (the byte count), the same address and value or
// count for writes. Exceptions are left out: any two requests with the same
// address and function share them (see lateExceptionPossible). Functions
// this master does not send are taken as confusable.
bool RepliesConfusable(const std::uint8_t* earlier, const std::uint8_t* later);

}  // namespace rtu
