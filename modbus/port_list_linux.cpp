// Serial ports on Linux, from sysfs: every terminal class entry under
// /sys/class/tty that has a device behind it ("device" link): USB adapters
// (ttyUSB*, ttyACM*), on-board UARTs (ttyS*, ttyAMA*) and the like. Virtual
// terminals, consoles and pseudo-terminals have no such link.
//
// USB adapters also get stable names from udev in /dev/serial/by-id, links
// named after the adapter's vendor, product and serial number; the USB
// strings themselves are attributes of the USB device folder above the
// terminal's device in sysfs.
//
// The 8250 driver registers a fixed number of ttyS ports (often 4 or 32)
// whether or not a UART answers at those addresses; the ones without a
// UART read "0" (PORT_UNKNOWN) from their "type" attribute and cannot be
// opened, so they are left out.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
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

// The first line of a sysfs attribute, without surrounding blanks.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
  const auto first = std::find_if_not(text.begin(), text.end(),
                                      [&](char c) { return blank(static_cast<unsigned char>(c)); });
  return std::string(first, text.end());
}

// The USB device folder (the one with idVendor) above a terminal's device:
// for ttyUSB the device is the usb-serial port below the interface, for
// ttyACM the interface itself. Empty for a port that is not on USB.
fs::path UsbDeviceOf(const fs::path& entry) {
  std::error_code ec;
  fs::path dir = fs::canonical(entry / "device", ec);
  for (int up = 0; !ec && up < 4 && dir.has_relative_path(); ++up, dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) return dir;
  }
  return {};
}

// "FTDI FT232R USB UART": manufacturer and product, the manufacturer left
// out when the product already names it.
std::string UsbDescription(const fs::path& usb) {
  if (usb.empty()) return {};
  const std::string maker = Attribute(usb / "manufacturer");
  const std::string product = Attribute(usb / "product");
  if (maker.empty() || product.rfind(maker, 0) == 0) return product;
  return product.empty() ? maker : maker + " " + product;
}

// Terminal name -> the by-id links that lead to it, sorted.
std::map<std::string, std::vector<std::string>> ByIdNames(const std::string& folder) {
  std::map<std::string, std::vector<std::string>> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    if (linkError) continue;
    names[target.filename().string()].push_back(it->path().string());
  }
  for (auto& [tty, links] : names) std::sort(links.begin(), links.end());
  return names;
}

// The open file descriptors in `procRoot` that lead to `device`, as
// "PID NAME", one per process.
std::vector<std::string> Holders(const std::string& procRoot, const std::string& device) {
  std::vector<std::pair<long, std::string>> found;
  std::error_code ec;
  fs::directory_iterator it(procRoot, ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fdError;  // another user's process: its fds cannot be read
    fs::directory_iterator fd(it->path() / "fd", fdError);
    for (const fs::directory_iterator fdEnd; !fdError && fd != fdEnd; fd.increment(fdError)) {
      std::error_code linkError;
      if (fs::read_symlink(fd->path(), linkError).string() == device && !linkError) {
        found.emplace_back(std::stol(pid), pid + " " + Attribute(it->path() / "comm"));
        break;
      }
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> holders;
  for (auto& entry : found) holders.push_back(std::move(entry.second));
  return holders;
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

std::string DefaultByIdFolder() { return "/dev/serial/by-id"; }

std::vector<PortEntry> SystemPorts(const std::string& source, const std::string& byIdFolder) {
  const auto byId = ByIdNames(byIdFolder);
  std::vector<PortEntry> ports;
  for (const std::string& name : SystemPortNames(source)) {
    const std::string tty = fs::path(name).filename().string();
    const std::string description = UsbDescription(UsbDeviceOf(fs::path(source) / tty));
    ports.push_back({name, description});
    if (const auto links = byId.find(tty); links != byId.end()) {
      for (const std::string& link : links->second) ports.push_back({link, description});
    }
  }
  return ports;
}

PortDetails DescribePort(const std::string& portName, const std::string& source,
                         const std::string& byIdFolder, const std::string& procRoot) {
  PortDetails details;
  const fs::path path = portName.find('/') == std::string::npos ? "/dev/" + portName : portName;
  std::error_code ec;
  const fs::path device = fs::canonical(path, ec);
  details.device = ec ? path.string() : device.string();
  const std::string tty = fs::path(details.device).filename().string();

  const fs::path entry = fs::path(source) / tty;
  const fs::path driver = fs::read_symlink(entry / "device" / "driver", ec);
  if (!ec) details.driver = driver.filename().string();
  if (const fs::path usb = UsbDeviceOf(entry); !usb.empty()) {
    details.vendorId = Attribute(usb / "idVendor");
    details.productId = Attribute(usb / "idProduct");
    details.manufacturer = Attribute(usb / "manufacturer");
    details.product = Attribute(usb / "product");
    details.serial = Attribute(usb / "serial");
  }
  const auto byId = ByIdNames(byIdFolder);
  if (const auto links = byId.find(tty); links != byId.end()) details.byId = links->second;
  details.holders = Holders(procRoot, details.device);
  details.holdersLooked = true;
  return details;
}

}  // namespace ktr
