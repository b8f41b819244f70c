// TSerialSet, the Win32 face of the serial settings dialog "Sériová
// komunikácia": baud rate, parity, stop bits, data bits and the RS-485
// box, modal and centred on its owner, client area 254 x 157.
#pragma once

#include <windows.h>

#include <optional>

#include "line_settings.h"

namespace ktr::app::win {

// Shows the dialog over `owner` with `choice`; the operator's choice when
// closed with OK, none when cancelled.
std::optional<LineChoice> RunSerialSetDialog(HINSTANCE instance, HWND owner, const LineChoice& choice);

}  // namespace ktr::app::win
