// Modbus RTU frames as the harnesses check them: the exact request and reply
// frames, built byte by byte with the bitwise CRC of the test support (not
// the table code under test), and the split of what a master sent into its
// request frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "frame_hex.h"

namespace ktr::fuzz {

using ktr::test::Bytes;
using ktr::test::WithCrc;

inline std::uint8_t High(unsigned v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
inline std::uint8_t Low(unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); }

// True when the `length` bytes at `data` end in the CRC of the bytes before
// it (low byte first).
inline bool HasGoodCrc(const std::uint8_t* data, std::size_t length) {
  if (length < 2) return false;
  const Bytes frame(data, data + length);
  return WithCrc(Bytes(data, data + length - 2)) == frame;
}

// Functions 1 to 4 to `slave`: start and count.
inline Bytes ReadRequestFrame(std::uint8_t slave, std::uint8_t function, std::uint16_t start,
                              std::uint16_t count) {
  return WithCrc({slave, function, High(start), Low(start), High(count), Low(count)});
}

// Function 6 (or 5 for a coil) to `slave`.
inline Bytes WriteSingleFrame(std::uint8_t slave, std::uint16_t reg, std::uint16_t value,
                              std::uint8_t function = 6) {
  return WithCrc({slave, function, High(reg), Low(reg), High(value), Low(value)});
}

// Function 16 to `slave`; the byte count is one byte (2 * count modulo 256).
inline Bytes WriteMultipleFrame(std::uint8_t slave, std::uint16_t start,
                                const std::vector<std::uint16_t>& values) {
  const auto count = static_cast<unsigned>(values.size());
  Bytes b{slave, 16, High(start), Low(start), High(count), Low(count), Low(2 * count)};
  for (const std::uint16_t v : values) {
    b.push_back(High(v));
    b.push_back(Low(v));
  }
  return WithCrc(b);
}

// Function 15 to `slave`: `count` coils, packed eight to a byte in `bits`.
inline Bytes WriteCoilsFrame(std::uint8_t slave, std::uint16_t start, std::uint16_t count,
                             const std::uint8_t* bits) {
  const unsigned bytes = (count + 7U) / 8U;
  Bytes b{slave, 15, High(start), Low(start), High(count), Low(count), Low(bytes)};
  b.insert(b.end(), bits, bits + bytes);
  return WithCrc(b);
}

// Function 3 reply from `slave` carrying `values`.
inline Bytes ReadReplyFrame(std::uint8_t slave, const std::vector<std::uint16_t>& values) {
  Bytes b{slave, 3, Low(2 * static_cast<unsigned>(values.size()))};
  for (const std::uint16_t v : values) {
    b.push_back(High(v));
    b.push_back(Low(v));
  }
  return WithCrc(b);
}

// Length of the request frame that starts at `data` (8 bytes; 9 + byte count
// for functions 15 and 16), or 0 while too few bytes are there to tell.
inline std::size_t RequestFrameLength(const std::uint8_t* data, std::size_t available) {
  if (available < 8) return 0;
  if (data[1] == 15 || data[1] == 16) return 9U + data[6];
  return 8;
}

// Splits what a master sent into request frames. Nothing when the stream
// does not divide into whole frames.
inline std::optional<std::vector<Bytes>> SplitRequests(const Bytes& stream) {
  std::vector<Bytes> frames;
  std::size_t at = 0;
  while (at < stream.size()) {
    const std::size_t length = RequestFrameLength(stream.data() + at, stream.size() - at);
    if (length == 0 || stream.size() - at < length) return std::nullopt;
    frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                        stream.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return frames;
}

}  // namespace ktr::fuzz
