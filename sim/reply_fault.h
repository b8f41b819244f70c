// Deliberate faults on the device's replies: parsed from `--fault`, chosen
// per request (a trigger register wins over the configured fault) and
// applied to the bytes of a correct reply.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "ktr_register_map.h"
#include "rtu_reply.h"

namespace ktr_sim {

// Parses one `--fault` mode: none, silent, bad-crc, exception=N (1-255),
// short, long, slow=MS (0-600000), garbage, echo, noise, foreign. Returns nothing and fills error
// for anything else.
std::optional<ktr::FaultMode> ParseFault(std::string_view text, std::string& error);

// The text form of a mode, as ParseFault takes it.
std::string FaultName(ktr::FaultMode mode);

// The fault for this request: that of its trigger register, if it starts at
// one, else the configured one.
ktr::FaultMode FaultFor(std::span<const std::uint8_t> request, ktr::FaultMode configured);

// What goes on the line for a reply.
struct Outgoing {
  Frame bytes;  // empty: nothing is sent
  unsigned delay_ms = 0;
};

// The late reply of the next address that the foreign fault sends first:
// same function and length as `reply`, other data, a good CRC.
Frame ForeignReply(const Frame& reply);

// Applies the fault to the correct reply. An exception fault is not handled
// here: the caller answers with ExceptionReply() instead of carrying out the
// request, and passes that reply through unchanged.
Outgoing ApplyFault(ktr::FaultMode mode, Frame reply, std::mt19937& random);

}  // namespace ktr_sim
