// The configuration file: an INI file with one section "PC" and the integer
// keys "Baud", "Parity", "StopBits", "Size" and "RS485" (1: kernel RS-485
// direction control), read at start-up and written when the serial settings
// dialog is confirmed.
#pragma once

#include <QString>

#include "serial_settings.h"

namespace ktr::app {

// Sets baudRate, parity, stopBits, dataBits and rs485 of `settings` from
// the file; a missing file, section or key, a value that is no integer or
// one that does not fit its field (parity, stop-bit and data-bit codes are
// 0-255, the baud rate is positive, RS485 is 0 or 1) leaves that field at
// its default (19200, 2, 0, 8, off). Every other field is left as it is.
void LoadIniSettings(const QString& path, SerialSettings& settings);

// Writes the keys in the order Baud, Parity, StopBits, Size, RS485, each
// saved to disk before the next. Returns an empty text, or "Unable to
// write to PATH" for the first key that could not be written (the keys
// after it are then not written).
[[nodiscard]] QString SaveIniSettings(const QString& path, const SerialSettings& settings);

// The key "Port" of section "PC": the last port on which a search found a
// device. LoadIniPort gives an empty text when there is none; SaveIniPort
// returns an empty text or "Unable to write to PATH".
QString LoadIniPort(const QString& path);
[[nodiscard]] QString SaveIniPort(const QString& path, const QString& port);

}  // namespace ktr::app
