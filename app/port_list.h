// The system's serial ports, for the port combo box. No widgets here.
#pragma once

#include <string>
#include <vector>

namespace ktr::app {

// Windows keeps the serial ports as the values of the registry key
// HARDWARE\DEVICEMAP\SERIALCOMM, one per port, whose data (not name) is the
// port's name ("COM3"). Turns the data of those values into the list that
// is shown: "COMn" for every port number 1-256 that occurs, in ascending
// number order (COM3 before COM10), each once. Data that does not start
// with "COM", or whose rest is not a decimal number from 1 to 256, is not
// listed.
std::vector<std::string> PortNamesFromRegistryData(const std::vector<std::wstring>& valueData);

// Orders port names the way a person counts: the text before the trailing
// number first, then the number ("ttyUSB2" before "ttyUSB10").
bool NaturalPortLess(const std::string& a, const std::string& b);

// The serial ports the system has, as the names to open: on Linux
// "/dev/NAME" for every terminal under `sysfsRoot` (normally
// "/sys/class/tty") that has a real device behind it, naturally sorted; on
// Windows the registry list above (`sysfsRoot` is not used there). An
// unreadable source gives an empty list.
std::vector<std::string> SystemPortNames(const std::string& sysfsRoot);

}  // namespace ktr::app
