// The line after an error that says what to check, in the words the web
// pages use for the same failure: the wiring, the baud rate and parity, the
// address, and `ktr-cli diag`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ktr::cli {

enum class Check {
  kPort,          // the port would not open
  kNoReply,       // nothing came back
  kBadReply,      // something came back, nothing valid
  kException,     // the device refused the request
  kNoDevice,      // a search found nobody
  kFile,          // a configuration file that cannot be read or used
  kOutput,        // a file that cannot be written
  kClock,         // this computer's clock is outside the device's years
  kAddressInUse,  // another device answers on the address wanted
};

// "check: ..." without the line end.
std::string CheckText(Check what);

// The check for a Modbus result code (kOk has none: "").
std::string CheckForCode(std::int32_t code);

// The check for an error text of the device layer, which names the result
// code of the failed request ("firmware registers (8000, ...): -4 no reply")
// or says that the port could not be opened.
std::string CheckForError(const std::string& error);

// Prints the line (with `prefix`, e.g. "address 3: ") when there is one.
void PrintCheck(std::FILE* to, const std::string& check, const std::string& prefix = {});

}  // namespace ktr::cli
