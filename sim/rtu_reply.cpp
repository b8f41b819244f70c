#include "rtu_reply.h"

namespace ktr_sim {
namespace {

constexpr std::uint8_t kReadHolding = 3;
constexpr std::uint8_t kReadInput = 4;
constexpr std::uint8_t kWriteSingle = 6;
constexpr std::uint8_t kWriteMultiple = 16;

std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

void PutWord(Frame& f, std::uint16_t v) {
  f.push_back(static_cast<std::uint8_t>(v >> 8));
  f.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

Frame ExecuteRead(DeviceRegisters& device, std::span<const std::uint8_t> request) {
  if (request.size() != 8) return ExceptionReply(request, kIllegalDataValue);
  const std::uint16_t start = Word(request, 2);
  const std::uint16_t count = Word(request, 4);
  if (count < 1 || count > ktr::kMaxReadCount) return ExceptionReply(request, kIllegalDataValue);
  std::vector<std::uint16_t> values;
  if (const std::uint8_t code = device.Read(start, count, values); code != 0) {
    return ExceptionReply(request, code);
  }
  Frame reply{request[0], request[1], static_cast<std::uint8_t>((2 * count) & 0xFF)};
  for (std::uint16_t v : values) PutWord(reply, v);
  AppendCrc(reply);
  return reply;
}

Frame ExecuteWriteSingle(DeviceRegisters& device, std::span<const std::uint8_t> request) {
  if (request.size() != 8) return ExceptionReply(request, kIllegalDataValue);
  const std::uint16_t value = Word(request, 4);
  if (const std::uint8_t code = device.Write(Word(request, 2), std::span(&value, 1)); code != 0) {
    return ExceptionReply(request, code);
  }
  Frame reply(request.begin(), request.begin() + 6);  // the echo of the request
  AppendCrc(reply);
  return reply;
}

Frame ExecuteWriteMultiple(DeviceRegisters& device, std::span<const std::uint8_t> request) {
  if (request.size() < 9) return ExceptionReply(request, kIllegalDataValue);
  const std::uint16_t count = Word(request, 4);
  const std::size_t byte_count = request[6];
  if (count < 1 || count > ktr::kMaxWriteCount || byte_count != 2u * count ||
      request.size() != 9 + byte_count) {
    return ExceptionReply(request, kIllegalDataValue);
  }
  std::vector<std::uint16_t> values;
  for (std::size_t i = 0; i < count; ++i) values.push_back(Word(request, 7 + 2 * i));
  if (const std::uint8_t code = device.Write(Word(request, 2), values); code != 0) {
    return ExceptionReply(request, code);
  }
  Frame reply(request.begin(), request.begin() + 6);  // address, function, start, count
  AppendCrc(reply);
  return reply;
}

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      crc =
          (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

void AppendCrc(Frame& frame) {
  const std::uint16_t crc = Crc16(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool CrcValid(std::span<const std::uint8_t> frame) { return frame.size() >= 4 && Crc16(frame) == 0; }

std::size_t RequestLength(std::span<const std::uint8_t> head) {
  if (head.size() < 2) return 0;
  // libmodbus (modbus.c, compute_meta_length_after_function and
  // compute_data_length_after_meta for an indication): functions 1-6 carry
  // 4 bytes after the function code; 15 and 16 carry 5 plus the byte count;
  // 22 carries 6; 23 carries 9 plus its write byte count; anything else
  // none. Then the 2 CRC bytes.
  const std::uint8_t function = head[1];
  if (function <= 6) return 2 + 4 + 2;
  if (function == 15 || function == 16) return head.size() < 7 ? 0 : 2 + 5 + head[6] + 2;
  if (function == 22) return 2 + 6 + 2;
  if (function == 23) return head.size() < 11 ? 0 : 2 + 9 + head[10] + 2;
  return 2 + 2;
}

std::optional<std::uint16_t> FirstRegister(std::span<const std::uint8_t> request) {
  if (request.size() < 4) return std::nullopt;
  switch (request[1]) {
    case kReadHolding:
    case kReadInput:
    case kWriteSingle:
    case kWriteMultiple: return Word(request, 2);
    default: return std::nullopt;
  }
}

Frame Execute(DeviceRegisters& device, std::span<const std::uint8_t> request) {
  switch (request[1]) {
    case kReadHolding:
    case kReadInput:  // the device has one register map for both
      return ExecuteRead(device, request);
    case kWriteSingle: return ExecuteWriteSingle(device, request);
    case kWriteMultiple: return ExecuteWriteMultiple(device, request);
    default: return ExceptionReply(request, kIllegalFunction);
  }
}

Frame ExceptionReply(std::span<const std::uint8_t> request, std::uint8_t code) {
  Frame reply{request[0], static_cast<std::uint8_t>(request[1] | 0x80), code};
  AppendCrc(reply);
  return reply;
}

}  // namespace ktr_sim
