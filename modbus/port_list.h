// The system's serial ports: the names that the port list offers and that
// SerialPort::Open takes. No OS types here; the system's own list is read by
// port_list_linux.cpp or port_list_win.cpp, chosen by the build.
#pragma once

#include <string>
#include <vector>

namespace ktr {

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

// Where the system lists its serial ports: on Linux the sysfs folder of the
// terminals, "/sys/class/tty"; on Windows the registry key
// "HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM".
std::string DefaultPortSource();

// The serial ports the system has, as the names to open. Linux: "/dev/NAME"
// for every terminal in the sysfs folder `source` that has a real device
// behind it, naturally sorted. Windows: the registry list above, read from
// the key `source` (a full key name that starts with HKEY_LOCAL_MACHINE\ or
// HKEY_CURRENT_USER\). A source that cannot be read gives an empty list.
std::vector<std::string> SystemPortNames(const std::string& source);

// A port as the lists offer it: the name to open and what the system says
// it is (for a USB adapter its manufacturer and product, e.g. "FTDI FT232R
// USB UART"; empty when it says nothing).
struct PortEntry {
  std::string name;
  std::string description;
  bool operator==(const PortEntry&) const = default;
};

// Linux: the folder of the stable names udev makes for USB serial devices,
// "/dev/serial/by-id"; Windows: none (empty).
std::string DefaultByIdFolder();

// The ports of SystemPortNames with descriptions; on Linux each port is
// followed by its names in `byIdFolder` (links such as
// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" -> "../../ttyUSB0"),
// which stay the same when the adapter is plugged into another socket.
std::vector<PortEntry> SystemPorts(const std::string& source, const std::string& byIdFolder);

// What the system says about one port, for a technician.
struct PortDetails {
  std::string device;    // the device the name leads to, e.g. "/dev/ttyUSB0"
  std::string driver;    // e.g. "ftdi_sio", "cdc_acm", "serial8250"
  std::string vendorId;  // USB vendor and product id, 4 hex digits each
  std::string productId;
  std::string manufacturer;  // USB strings
  std::string product;
  std::string serial;
  std::vector<std::string> byId;     // stable names leading to the port
  std::vector<std::string> holders;  // programs that have it open: "812 ModemManager"
  bool holdersLooked = false;        // false: the system cannot be asked (Windows)
};

// Linux: looks the port up in the sysfs folder `source` and `byIdFolder`,
// and finds the processes that have it open in the proc folder `procRoot`
// (only those whose fds this user may read). Windows: the device only.
PortDetails DescribePort(const std::string& portName, const std::string& source,
                         const std::string& byIdFolder, const std::string& procRoot);

}  // namespace ktr
