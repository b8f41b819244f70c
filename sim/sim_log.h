// Diagnostics of the simulator: one line per message on stderr, prefixed
// "ktr-sim: ".
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ktr_sim {

void LogLine(const std::string& message);

// Bytes as lower-case hex pairs separated by blanks: "01 03 1f 40".
std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace ktr_sim
