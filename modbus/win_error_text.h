// The system's text for a Win32 or Winsock error code, shared by the serial
// port and the TCP socket of the Windows build.
#pragma once

#include <windows.h>

#include <string>

namespace ktr::detail {

// UTF-8, without the trailing line break; "error N" when the system has no
// text for the code.
std::string SystemMessage(DWORD code);

}  // namespace ktr::detail
