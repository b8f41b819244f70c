#include "frame_hex.h"

#include <cstdio>
#include <sstream>

namespace ktr::test {

Bytes FromHex(const std::string& hex) {
  Bytes out;
  std::istringstream in(hex);
  std::string byte;
  while (in >> byte) out.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
  return out;
}

std::string ToHex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    if (i != 0) out += ' ';
    out += buf;
  }
  return out;
}

Bytes WithCrc(Bytes frame) {
  unsigned crc = 0xFFFF;
  for (std::uint8_t b : frame) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
  }
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

namespace {

void PutWords(Bytes& frame, const std::vector<std::uint16_t>& values) {
  for (const std::uint16_t v : values) {
    frame.push_back(High(v));
    frame.push_back(Low(v));
  }
}

}  // namespace

Bytes ReadRequestFrame(std::uint8_t slave, std::uint8_t function, std::uint16_t start, std::uint16_t count) {
  return WithCrc({slave, function, High(start), Low(start), High(count), Low(count)});
}

Bytes WriteSingleFrame(std::uint8_t slave, std::uint16_t reg, std::uint16_t value, std::uint8_t function) {
  return WithCrc({slave, function, High(reg), Low(reg), High(value), Low(value)});
}

Bytes WriteMultipleFrame(std::uint8_t slave, std::uint16_t start, const std::vector<std::uint16_t>& values) {
  const auto count = static_cast<unsigned>(values.size());
  Bytes b{slave, 16, High(start), Low(start), High(count), Low(count), Low(2 * count)};
  PutWords(b, values);
  return WithCrc(b);
}

Bytes WriteCoilsFrame(std::uint8_t slave, std::uint16_t start, std::uint16_t count,
                      const std::uint8_t* bits) {
  const unsigned bytes = (count + 7U) / 8U;
  Bytes b{slave, 15, High(start), Low(start), High(count), Low(count), Low(bytes)};
  b.insert(b.end(), bits, bits + bytes);
  return WithCrc(b);
}

Bytes ReadReplyFrame(std::uint8_t slave, const std::vector<std::uint16_t>& values) {
  Bytes b{slave, 3, Low(2 * static_cast<unsigned>(values.size()))};
  PutWords(b, values);
  return WithCrc(b);
}

Bytes WriteEchoFrame(const Bytes& request) { return WithCrc(Bytes(request.begin(), request.begin() + 6)); }

std::size_t RequestFrameLength(const std::uint8_t* data, std::size_t available) {
  if (available < 8) return 0;
  if (data[1] == 15 || data[1] == 16) return 9U + data[6];
  return 8;
}

std::vector<Bytes> SplitRequests(const Bytes& stream) {
  std::vector<Bytes> frames;
  std::size_t at = 0;
  for (;;) {
    const std::size_t length = RequestFrameLength(stream.data() + at, stream.size() - at);
    if (length == 0 || stream.size() - at < length) return frames;
    frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                        stream.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
}

}  // namespace ktr::test
