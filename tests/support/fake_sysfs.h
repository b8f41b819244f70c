// A made-up sysfs tty class folder, /dev/serial/by-id folder and /proc in a
// temporary folder, laid out as the kernel and udev lay them out, for the
// port list and ktr-cli diag.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace ktr::test {

struct UsbAdapter {
  const char* vendorId;
  const char* productId;
  const char* manufacturer;  // nullptr: the attribute is missing
  const char* product;
  const char* serial;
};

class FakeSysfs {
 public:
  explicit FakeSysfs(const std::string& tag)
      : base_(std::filesystem::temp_directory_path() /
              ("ktr-sysfs-" + tag + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(base_);
    std::filesystem::create_directories(ttyClass());
    std::filesystem::create_directories(byId());
    std::filesystem::create_directories(proc());
  }
  ~FakeSysfs() {
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  std::filesystem::path ttyClass() const { return base_ / "sys/class/tty"; }
  std::filesystem::path byId() const { return base_ / "dev/serial/by-id"; }
  std::filesystem::path proc() const { return base_ / "proc"; }

  // A terminal with hardware behind it; `type` is the 8250 "type" attribute
  // (nullptr: none), `driver` the name of the driver bound to the hardware.
  void Port(const std::string& tty, const char* driver = nullptr, const char* type = nullptr) const {
    Terminal(tty, base_ / "sys/devices/platform" / ("hw-" + tty), driver, type);
  }

  // A terminal without hardware (virtual terminal, console).
  void Virtual(const std::string& tty) const {
    const auto real = base_ / "sys/devices/virtual/tty" / tty;
    std::filesystem::create_directories(real);
    std::filesystem::create_directory_symlink(real, ttyClass() / tty);
  }

  // A USB serial adapter: the USB device folder with its attributes, an
  // interface below it and (like usb-serial) the port device below that.
  void Usb(const std::string& tty, const char* driver, const UsbAdapter& usb,
           bool portBelowInterface = true) const {
    const auto device = base_ / "sys/devices/pci0000:00/usb1" / ("1-" + tty);
    std::filesystem::create_directories(device);
    Write(device / "idVendor", usb.vendorId);
    Write(device / "idProduct", usb.productId);
    Write(device / "manufacturer", usb.manufacturer);
    Write(device / "product", usb.product);
    Write(device / "serial", usb.serial);
    const auto interface = device / ("1-" + tty + ":1.0");
    Terminal(tty, portBelowInterface ? interface / tty : interface, driver, nullptr);
  }

  // A by-id link "../../TTY" as udev makes it.
  void ById(const std::string& name, const std::string& tty) const {
    std::filesystem::create_symlink("../../" + tty, byId() / name);
  }

  // A process `pid` named `comm` with an open fd on `device`.
  void Holder(int pid, const char* comm, const std::string& device) const {
    const auto dir = proc() / std::to_string(pid);
    std::filesystem::create_directories(dir / "fd");
    Write(dir / "comm", comm);
    std::filesystem::create_symlink(device, dir / "fd" / "3");
  }

 private:
  static void Write(const std::filesystem::path& file, const char* text) {
    if (text != nullptr) std::ofstream(file) << text << "\n";
  }

  void Terminal(const std::string& tty, const std::filesystem::path& hardware, const char* driver,
                const char* type) const {
    const auto real = hardware / "tty" / tty;
    std::filesystem::create_directories(real);
    std::filesystem::create_directory_symlink(hardware, real / "device");
    if (driver != nullptr) {
      const auto bound = base_ / "sys/bus/drivers" / driver;
      std::filesystem::create_directories(bound);
      std::filesystem::create_directory_symlink(bound, hardware / "driver");
    }
    Write(real / "type", type);
    std::filesystem::create_directory_symlink(real, ttyClass() / tty);
  }

  std::filesystem::path base_;
};

}  // namespace ktr::test
