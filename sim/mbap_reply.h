// Modbus TCP on the device side: the RTU request inside an MBAP frame, the
// reply as an MBAP frame, and the simulator's faults as a Modbus TCP client
// meets them.
#pragma once

#include <cstdint>
#include <random>
#include <span>

#include "reply_fault.h"
#include "rtu_reply.h"

namespace ktr_sim {

// Transaction id, protocol id, length, unit id.
inline constexpr std::size_t kMbapHeaderSize = 7;

// The RTU request (unit id, PDU, CRC) that an MBAP frame carries; the frame
// holds its header and at least a function code.
Frame RtuFromAdu(std::span<const std::uint8_t> adu);

// The MBAP frame of an RTU frame (its CRC left off) under `transaction`.
Frame AduFromRtu(std::uint16_t transaction, std::span<const std::uint8_t> rtu);

// What goes over the connection for the correct reply (RTU form) to the
// request of `transaction`. Without a CRC, the faults that damage a frame
// damage its header instead, where a client checks it:
//   bad-crc  the frame with protocol id 1
//   short    the header and the first two bytes of the PDU (the header's
//            length promises more)
//   long     the frame and kLongReplySurplus
//   garbage  random bytes as long as the frame, never with protocol id 0
//   noise    kNoiseByte before the frame
//   foreign  the other address's reply under the previous transaction id,
//            then the frame
// silent, slow and exception are as on the line; echo is the server's.
Outgoing ApplyTcpFault(ktr::FaultMode mode, const Frame& reply, std::uint16_t transaction,
                       std::mt19937& random);

}  // namespace ktr_sim
