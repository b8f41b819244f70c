// The serial line settings as the settings dialog shows them: the items of
// its four lists, the record <-> list-position mapping and the short text of
// the main window's label. No widgets here, so the mapping is tested alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "serial_settings.h"

namespace ktr::app {

inline constexpr std::array<std::string_view, 9> kBaudItems{"1200",  "2400",  "4800",  "9600",  "14400",
                                                            "19200", "38400", "57600", "115200"};
inline constexpr std::array<std::string_view, 3> kParityItems{"None", "Odd", "Even"};
inline constexpr std::array<std::string_view, 3> kStopItems{"1", "1,5", "2"};
inline constexpr std::array<std::string_view, 4> kDataItems{"5", "6", "7", "8"};

// The text of the label before the dialog has first been opened: the
// defaults, whatever the configuration file holds.
inline constexpr std::string_view kInitialLabelText = "19200,Even,8,1";

// Positions in the four lists (0-based).
struct LineChoice {
  int baud = 5;        // 19200
  int parity = 2;      // Even
  int stop = 0;        // "1"
  int data = 3;        // "8"
  bool rs485 = false;  // kernel RS-485 direction control
};

// The record as list positions. A baud rate that is not listed shows
// 19200, data bits other than 5-7 show 8; a parity or stop-bit code that
// has no item (above 2) shows the default (Even, "1"), so that confirming
// the dialog never stores a code the port does not know.
LineChoice ChoiceFromSettings(const SerialSettings& settings);

// The record with the four line fields and the RS-485 choice taken from the
// dialog, and the transport that the port name gives (the serial line for a
// serial port); every other field is kept.
SerialSettings ApplyChoice(SerialSettings settings, const LineChoice& choice);

// The label text: baud, parity, data bits and stop bits as the lists show
// them, joined by ","; "19200,Even,8,1" for the defaults.
std::string SettingsLabelText(const LineChoice& choice);

}  // namespace ktr::app
