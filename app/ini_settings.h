// The configuration file: an INI file with one section "PC" and the integer
// keys "Baud", "Parity", "StopBits", "Size" and "RS485" (1: kernel RS-485
// direction control), read at start-up and written when the serial settings
// dialog is confirmed; and the key "Port", the port of the last search that
// found a device. Read and written through ini_file.h.
#pragma once

#include <string>

#include "serial_settings.h"

namespace ktr::app {

// Sets baudRate, parity, stopBits, dataBits and rs485 of `settings` from
// the file; a missing file, section or key, a value that is no integer or
// one that does not fit its field (parity, stop-bit and data-bit codes are
// 0-255, the baud rate is positive, RS485 is 0 or 1) leaves that field at
// its default (19200, 2, 0, 8, off). Every other field is left as it is.
void LoadIniSettings(const std::string& path, SerialSettings& settings);

// Writes the keys in the order Baud, Parity, StopBits, Size, RS485, each
// saved to disk before the next. The file's folder is created when it is
// missing. Returns an empty text, or "Unable to write to PATH" for the first
// key that could not be written (the keys after it are then not written).
[[nodiscard]] std::string SaveIniSettings(const std::string& path, const SerialSettings& settings);

// The key "Port" of section "PC": the last port on which a search found a
// device. LoadIniPort gives an empty text when there is none; SaveIniPort
// returns an empty text or "Unable to write to PATH".
std::string LoadIniPort(const std::string& path);
[[nodiscard]] std::string SaveIniPort(const std::string& path, const std::string& port);

}  // namespace ktr::app
