// The window's and the dialog's texts, one copy for both faces (Qt, Win32):
// captions, hints and the items of the notification-area menu. UTF-8.
#pragma once

#include <string>

#include "ktr_version.h"

namespace ktr::app::text {

inline constexpr char kMainCaption[] = "Configurator KTR via Modbus RTU";
inline constexpr char kProgramName[] = "KTRWebServer";  // title of the error boxes
inline constexpr char kLogGroup[] = "Log window:";
inline constexpr char kPortGroup[] = "Serial port:";
inline constexpr char kAddressGroup[] = "ID:";
inline constexpr char kSearch[] = "Search";
inline constexpr char kStop[] = "Stop";
inline constexpr char kStart[] = "Start";
inline constexpr char kExit[] = "Exit";
inline constexpr char kSerialSettingsButton[] = "...";
inline constexpr char kSerialSettingsHint[] = "Parameters...";
inline constexpr char kOpen[] = "Open";

inline constexpr char kDialogCaption[] = "Sériová komunikácia";
inline constexpr char kBaudLabel[] = "Rýchlosť:";
inline constexpr char kParityLabel[] = "Parita:";
inline constexpr char kStopLabel[] = "Stop bity:";
inline constexpr char kDataLabel[] = "Data:";
inline constexpr char kRs485[] = "RS-485";
inline constexpr char kRs485Hint[] =
    "RS-485: RTS pri vysielaní (the kernel drives RTS as the transmit enable of an on-board "
    "transceiver; leave it off for USB adapters, they switch by themselves)";
inline constexpr char kCancel[] = "Zrušiť";
inline constexpr char kOk[] = "OK";

// The build's version, as ktr-cli --version and the packages show it: the
// logo's hint and the notification-area icon's tooltip.
inline std::string VersionHint() { return std::string("Version ") + kVersion; }
inline std::string TrayTip() { return std::string(kMainCaption) + "\n" + VersionHint(); }

}  // namespace ktr::app::text
