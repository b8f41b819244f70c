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

}  // namespace ktr::test
