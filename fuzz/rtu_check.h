// Modbus RTU frames as the harnesses check them: the exact request and reply
// frames of the tests' toolkit (frame_hex.h: built byte by byte with its
// bitwise CRC, not the table code under test), and a CRC check of frames the
// master sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_hex.h"

namespace ktr::fuzz {

using ktr::test::Bytes;
using ktr::test::ReadReplyFrame;
using ktr::test::ReadRequestFrame;
using ktr::test::RequestFrameLength;
using ktr::test::SplitRequests;
using ktr::test::WithCrc;
using ktr::test::WriteCoilsFrame;
using ktr::test::WriteMultipleFrame;
using ktr::test::WriteSingleFrame;

// True when the `length` bytes at `data` end in the CRC of the bytes before
// it (low byte first).
inline bool HasGoodCrc(const std::uint8_t* data, std::size_t length) {
  if (length < 2) return false;
  const Bytes frame(data, data + length);
  return WithCrc(Bytes(data, data + length - 2)) == frame;
}

}  // namespace ktr::fuzz
