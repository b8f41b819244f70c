// Modbus RTU on the device side: the CRC, the length of an incoming
// request, and the reply the device gives to a request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device_registers.h"

namespace ktr_sim {

using Frame = std::vector<std::uint8_t>;

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF. It is
// sent low byte first; over a frame with its CRC appended it yields 0.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);
void AppendCrc(Frame& frame);
bool CrcValid(std::span<const std::uint8_t> frame);

// How many bytes libmodbus takes for a request that starts with these bytes
// (address, function, and for writes of several registers the byte count at
// index 6), CRC included. It mirrors libmodbus's own framing so that a frame
// that libmodbus received for another address can be checked here.
// 0 when the bytes are too few to tell.
std::size_t RequestLength(std::span<const std::uint8_t> head);

// First register of a register request (functions 3, 4, 6, 16).
std::optional<std::uint16_t> FirstRegister(std::span<const std::uint8_t> request);

// Carries out one request (CRC already checked) on the device and returns
// the complete reply frame, CRC included: the data, the echo of a write, or
// an exception reply.
Frame Execute(DeviceRegisters& device, std::span<const std::uint8_t> request);

// An exception reply to the request: address, function | 0x80, code, CRC.
Frame ExceptionReply(std::span<const std::uint8_t> request, std::uint8_t code);

}  // namespace ktr_sim
