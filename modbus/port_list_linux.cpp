// Serial ports on Linux, from sysfs: every terminal class entry under
// /sys/class/tty that has a device behind it ("device" link): USB adapters
// (ttyUSB*, ttyACM*), on-board UARTs (ttyS*, ttyAMA*) and the like. Virtual
// terminals, consoles and pseudo-terminals have no such link.
//
// The 8250 driver registers a fixed number of ttyS ports (often 4 or 32)
// whether or not a UART answers at those addresses; the ones without a
// UART read "0" (PORT_UNKNOWN) from their "type" attribute and cannot be
// opened, so they are left out.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "port_list.h"

namespace ktr {
namespace {

namespace fs = std::filesystem;

bool HasDevice(const fs::path& entry) {
  std::error_code ec;
  return fs::exists(entry / "device", ec);
}

// A ttyS port whose UART was not found at boot.
bool IsMissingUart(const fs::path& entry, const std::string& name) {
  if (name.rfind("ttyS", 0) != 0) return false;
  std::ifstream type(entry / "type");
  std::string value;
  return type >> value && value == "0";
}

}  // namespace

std::string DefaultPortSource() { return "/sys/class/tty"; }

std::vector<std::string> SystemPortNames(const std::string& source) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(source, ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    const std::string name = entry.filename().string();
    if (!HasDevice(entry) || IsMissingUart(entry, name)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalPortLess);
  for (std::string& name : names) name.insert(0, "/dev/");
  return names;
}

}  // namespace ktr
