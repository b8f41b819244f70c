#include "sim_log.h"

#include <cstdio>

namespace ktr_sim {

void LogLine(const std::string& message) {
  // One fprintf per line, so lines stay whole when stderr is shared.
  std::fprintf(stderr, "ktr-sim: %s\n", message.c_str());
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

}  // namespace ktr_sim
