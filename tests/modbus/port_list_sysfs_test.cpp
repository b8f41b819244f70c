// The Linux port list from a sysfs tree laid out as the kernel does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "port_list.h"

namespace {

namespace fs = std::filesystem;

class SysfsPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() /
            ("ktr-sysfs-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(::getpid()));
    fs::create_directories(root());
  }
  void TearDown() override { fs::remove_all(base_); }

  fs::path root() const { return base_ / "class/tty"; }

  // Class entries are links into the device tree, and "device" is a link to
  // the hardware behind the terminal.
  void Port(const std::string& name, bool device, const char* type = nullptr) const {
    const fs::path real = base_ / "devices" / name;
    fs::create_directories(real);
    if (device) {
      const fs::path hardware = base_ / "devices" / ("hw-" + name);
      fs::create_directories(hardware);
      fs::create_directory_symlink(hardware, real / "device");
    }
    if (type != nullptr) std::ofstream(real / "type") << type << "\n";
    fs::create_directory_symlink(real, root() / name);
  }

  fs::path base_;
};

TEST_F(SysfsPortsTest, ListsTerminalsWithHardwareInNaturalOrder) {
  Port("ttyUSB10", true);
  Port("ttyUSB2", true);
  Port("ttyACM0", true);
  Port("ttyAMA0", true);
  Port("ttyS0", true, "4");  // 16550A found
  Port("ttyS1", true, "0");  // registered, no UART
  Port("ttyS2", true);       // no type attribute: kept
  Port("tty0", false);       // virtual terminal
  Port("console", false);
  Port("ptmx", false);
  EXPECT_EQ(ktr::SystemPortNames(root().string()),
            (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyUSB2",
                                      "/dev/ttyUSB10"}));
}

TEST_F(SysfsPortsTest, MissingFolderGivesNoPorts) {
  EXPECT_TRUE(ktr::SystemPortNames((base_ / "absent").string()).empty());
}

}  // namespace
