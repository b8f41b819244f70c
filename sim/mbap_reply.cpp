#include "mbap_reply.h"

#include <algorithm>

namespace ktr_sim {
namespace {

void PutWord(Frame& frame, std::size_t at, std::size_t value) {
  frame[at] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  frame[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

Frame RtuFromAdu(std::span<const std::uint8_t> adu) {
  Frame rtu(adu.begin() + kMbapHeaderSize - 1, adu.end());
  AppendCrc(rtu);
  return rtu;
}

Frame AduFromRtu(std::uint16_t transaction, std::span<const std::uint8_t> rtu) {
  const std::size_t unitAndPdu = rtu.size() - 2;
  Frame adu(kMbapHeaderSize - 1 + unitAndPdu);
  PutWord(adu, 0, transaction);
  PutWord(adu, 2, 0);
  PutWord(adu, 4, unitAndPdu);
  std::copy_n(rtu.begin(), unitAndPdu, adu.begin() + kMbapHeaderSize - 1);
  return adu;
}

Outgoing ApplyTcpFault(ktr::FaultMode mode, const Frame& reply, std::uint16_t transaction,
                       std::mt19937& random) {
  using ktr::Fault;
  Outgoing out;
  Frame adu = AduFromRtu(transaction, reply);
  switch (mode.kind) {
    case Fault::kNone:
    case Fault::kException:
    case Fault::kEcho: out.bytes = std::move(adu); break;
    case Fault::kSilent: break;
    case Fault::kSlow:
      out.bytes = std::move(adu);
      out.delay_ms = mode.value;
      break;
    case Fault::kBadCrc:
      PutWord(adu, 2, ktr::kBadCrcFlip);
      out.bytes = std::move(adu);
      break;
    case Fault::kShort:
      adu.resize(std::min(kMbapHeaderSize + ktr::kShortReplyLength - 1, adu.size() - 1));
      out.bytes = std::move(adu);
      break;
    case Fault::kLong:
      adu.insert(adu.end(), ktr::kLongReplySurplus.begin(), ktr::kLongReplySurplus.end());
      out.bytes = std::move(adu);
      break;
    case Fault::kGarbage: {
      std::uniform_int_distribution<int> byte(0, 255);
      Frame noise(adu.size());
      do {
        for (auto& b : noise) b = static_cast<std::uint8_t>(byte(random));
      } while (noise[2] == 0 && noise[3] == 0);
      out.bytes = std::move(noise);
      break;
    }
    case Fault::kNoise:
      adu.insert(adu.begin(), ktr::kNoiseByte);
      out.bytes = std::move(adu);
      break;
    case Fault::kForeign: {
      Frame other = AduFromRtu(static_cast<std::uint16_t>(transaction - 1), ForeignReply(reply));
      other.insert(other.end(), adu.begin(), adu.end());
      out.bytes = std::move(other);
      break;
    }
  }
  return out;
}

}  // namespace ktr_sim
