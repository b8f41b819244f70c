// Text on the Windows build: our strings are UTF-8, the wide Win32 calls
// take and give UTF-16, and the system's messages for error codes come
// from FormatMessageW. The one place for these conversions, shared by the
// serial port, the TCP socket, the HTTP server's sockets, ktr-cli and the
// web side's machine name.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace ktr::win {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// In the ANSI code page, for the C library's narrow file calls (fopen).
std::string AnsiFromWide(std::wstring_view text);

// The system's text for a Win32 or Winsock error code, as UTF-8 without the
// trailing line break; `unknown` and the code ("error 1234") when the
// system has no text for it.
std::string SystemErrorText(DWORD code, std::string_view unknown = "error");

}  // namespace ktr::win
