// The result codes of the Modbus master's requests (TModbus, modbus_master.h),
// which the serial port's and the TCP link's Open share. Kept apart from the
// master so that the links below it can name them too.
//
// kOk: success. kFailed: port, write, read or CRC failure, any failed
// OpenPort, and a request that does not fit the frame buffers. kNotOpen: no
// open port at send or receive. kNoReply: no reply of this request in time
// (none, a cut one, or only bytes that are no reply: noise, the echo, other
// devices' frames). kGaveWay: a read that would first have waited out a
// late reply gave way, as its caller's SetGiveWay check asked; nothing was
// sent, ask again. Exception(code): the device answered with that exception
// code: -51..-54 for 1..4, -50 - code for any other.
#pragma once

#include <cstdint>

namespace ktr::result {

inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kFailed = -1;
inline constexpr std::int32_t kNotOpen = -3;
inline constexpr std::int32_t kNoReply = -4;
inline constexpr std::int32_t kGaveWay = -5;

// Exception replies count down from here.
inline constexpr std::int32_t kExceptionBase = -50;

constexpr std::int32_t Exception(std::uint8_t code) { return kExceptionBase - code; }
constexpr bool IsException(std::int32_t code) { return code <= kExceptionBase; }

}  // namespace ktr::result
