#include "reply_fault.h"

#include <algorithm>
#include <charconv>

namespace ktr_sim {
namespace {

using ktr::Fault;

constexpr unsigned kMaxSlowMs = 600000;

// Parses the decimal number after "name=" within [low, high].
std::optional<unsigned> ParseArgument(std::string_view text, unsigned low, unsigned high) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<ktr::FaultMode> ParseFault(std::string_view text, std::string& error) {
  struct Simple {
    std::string_view name;
    Fault kind;
  };
  static constexpr Simple kSimple[] = {
      {"none", Fault::kNone},   {"silent", Fault::kSilent}, {"bad-crc", Fault::kBadCrc},
      {"short", Fault::kShort}, {"long", Fault::kLong},     {"garbage", Fault::kGarbage},
      {"echo", Fault::kEcho},   {"noise", Fault::kNoise},   {"foreign", Fault::kForeign},
  };
  for (const Simple& s : kSimple) {
    if (text == s.name) return ktr::FaultMode{s.kind, 0};
  }
  constexpr std::string_view kException = "exception=";
  constexpr std::string_view kSlow = "slow=";
  if (text.starts_with(kException)) {
    if (auto code = ParseArgument(text.substr(kException.size()), 1, 255)) {
      return ktr::FaultMode{Fault::kException, *code};
    }
    error = "exception code must be a number from 1 to 255: '" + std::string(text) + "'";
    return std::nullopt;
  }
  if (text.starts_with(kSlow)) {
    if (auto ms = ParseArgument(text.substr(kSlow.size()), 0, kMaxSlowMs)) {
      return ktr::FaultMode{Fault::kSlow, *ms};
    }
    error = "slow delay must be a number of milliseconds from 0 to " + std::to_string(kMaxSlowMs) + ": '" +
            std::string(text) + "'";
    return std::nullopt;
  }
  error = "unknown fault '" + std::string(text) +
          "' (expected none, silent, bad-crc, exception=N, short, long, slow=MS, garbage, echo, "
          "noise or foreign)";
  return std::nullopt;
}

std::string FaultName(ktr::FaultMode mode) {
  switch (mode.kind) {
    case Fault::kNone: return "none";
    case Fault::kSilent: return "silent";
    case Fault::kBadCrc: return "bad-crc";
    case Fault::kException: return "exception=" + std::to_string(mode.value);
    case Fault::kShort: return "short";
    case Fault::kLong: return "long";
    case Fault::kSlow: return "slow=" + std::to_string(mode.value);
    case Fault::kGarbage: return "garbage";
    case Fault::kEcho: return "echo";
    case Fault::kNoise: return "noise";
    case Fault::kForeign: return "foreign";
  }
  return "?";
}

ktr::FaultMode FaultFor(std::span<const std::uint8_t> request, ktr::FaultMode configured) {
  if (const auto start = FirstRegister(request)) {
    const ktr::FaultMode triggered = ktr::TriggeredFault(*start);
    if (triggered.kind != Fault::kNone) return triggered;
  }
  return configured;
}

Frame ForeignReply(const Frame& reply) {
  Frame other(reply.begin(), reply.end() - 2);
  other[0] = static_cast<std::uint8_t>(other[0] % 247 + 1);
  for (std::size_t i = 2; i < other.size(); ++i) other[i] ^= ktr::kForeignXor;
  if ((other[1] & 0x80) == 0 && other[1] <= 4) other[2] = reply[2];  // keep the byte count
  AppendCrc(other);
  return other;
}

Outgoing ApplyFault(ktr::FaultMode mode, Frame reply, std::mt19937& random) {
  Outgoing out;
  switch (mode.kind) {
    case Fault::kNone:
    case Fault::kException:
    case Fault::kEcho:  // the line's fault: BusServer sends the request back first
      out.bytes = std::move(reply);
      break;
    case Fault::kNoise:
      reply.insert(reply.begin(), ktr::kNoiseByte);
      out.bytes = std::move(reply);
      break;
    case Fault::kForeign: {
      Frame other = ForeignReply(reply);
      other.insert(other.end(), reply.begin(), reply.end());
      out.bytes = std::move(other);
      break;
    }
    case Fault::kSilent: break;
    case Fault::kBadCrc:
      reply.back() ^= ktr::kBadCrcFlip;
      out.bytes = std::move(reply);
      break;
    case Fault::kShort:
      reply.resize(std::min(ktr::kShortReplyLength, reply.size() - 1));
      out.bytes = std::move(reply);
      break;
    case Fault::kLong:
      reply.insert(reply.end(), ktr::kLongReplySurplus.begin(), ktr::kLongReplySurplus.end());
      out.bytes = std::move(reply);
      break;
    case Fault::kSlow:
      out.bytes = std::move(reply);
      out.delay_ms = mode.value;
      break;
    case Fault::kGarbage: {
      // Random bytes of the reply's length; drawn again in the rare case
      // that they happen to carry a valid CRC, so the fault is always seen.
      std::uniform_int_distribution<int> byte(0, 255);
      Frame noise(reply.size());
      do {
        for (auto& b : noise) b = static_cast<std::uint8_t>(byte(random));
      } while (CrcValid(noise));
      out.bytes = std::move(noise);
      break;
    }
  }
  return out;
}

}  // namespace ktr_sim
