// The Linux port list from a sysfs tree and a by-id folder laid out as the
// kernel and udev do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_sysfs.h"
#include "port_list.h"

namespace {

using ktr::PortEntry;
using ktr::test::FakeSysfs;
using ktr::test::UsbAdapter;

constexpr UsbAdapter kFtdi{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"};
// Some makers repeat their name in the product string; some leave the
// manufacturer out.
constexpr UsbAdapter kCh340{"1a86", "7523", "QinHeng Electronics", "QinHeng Electronics CH340 serial",
                            nullptr};
constexpr UsbAdapter kNoStrings{"10c4", "ea60", nullptr, nullptr, nullptr};

class SysfsPortsTest : public ::testing::Test {
 protected:
  std::string tty() const { return sys_.ttyClass().string(); }
  std::string byId() const { return sys_.byId().string(); }
  FakeSysfs sys_{::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(SysfsPortsTest, ListsTerminalsWithHardwareInNaturalOrder) {
  sys_.Port("ttyUSB10");
  sys_.Port("ttyUSB2");
  sys_.Port("ttyACM0");
  sys_.Port("ttyAMA0");
  sys_.Port("ttyS0", "serial8250", "4");  // 16550A found
  sys_.Port("ttyS1", "serial8250", "0");  // registered, no UART
  sys_.Port("ttyS2");                     // no type attribute: kept
  sys_.Virtual("tty0");
  sys_.Virtual("console");
  sys_.Virtual("ptmx");
  EXPECT_EQ(ktr::SystemPortNames(tty()),
            (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS2",
                                      "/dev/ttyUSB2", "/dev/ttyUSB10"}));
}

TEST_F(SysfsPortsTest, MissingFolderGivesNoPorts) {
  EXPECT_TRUE(ktr::SystemPortNames(tty() + "/absent").empty());
  EXPECT_TRUE(ktr::SystemPorts(tty() + "/absent", byId()).empty());
}

TEST_F(SysfsPortsTest, StableNamesFollowTheirPortWithTheUsbDescription) {
  sys_.Usb("ttyUSB0", "ftdi_sio", kFtdi);
  sys_.Usb("ttyACM0", "cdc_acm", kCh340, /*portBelowInterface=*/false);
  sys_.Usb("ttyUSB1", "cp210x", kNoStrings);
  sys_.Port("ttyS0", "serial8250", "4");
  sys_.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  sys_.ById("usb-1a86_USB_Serial-if00", "ttyACM0");
  sys_.ById("usb-stale-link-if00", "ttyUSB7");  // its port is gone: not listed
  const std::string ftdi = "FTDI FT232R USB UART";
  const std::string ch340 = "QinHeng Electronics CH340 serial";
  EXPECT_EQ(ktr::SystemPorts(tty(), byId()),
            (std::vector<PortEntry>{{"/dev/ttyACM0", ch340},
                                    {byId() + "/usb-1a86_USB_Serial-if00", ch340},
                                    {"/dev/ttyS0", ""},
                                    {"/dev/ttyUSB0", ftdi},
                                    {byId() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", ftdi},
                                    {"/dev/ttyUSB1", ""}}));
  // No by-id folder (no USB adapter plugged in since boot): the kernel names.
  EXPECT_EQ(ktr::SystemPorts(tty(), byId() + "/absent").size(), 4U);
}

TEST_F(SysfsPortsTest, DescribesAUsbAdapterAndWhoHoldsIt) {
  sys_.Usb("ttyUSB0", "ftdi_sio", kFtdi);
  sys_.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  sys_.Holder(812, "ModemManager", "/dev/ttyUSB0");
  sys_.Holder(77, "brltty", "/dev/ttyUSB0");
  sys_.Holder(900, "bash", "/dev/pts/1");
  const ktr::PortDetails d = ktr::DescribePort("ttyUSB0", tty(), byId(), sys_.proc().string());
  EXPECT_EQ(d.device, "/dev/ttyUSB0");
  EXPECT_EQ(d.driver, "ftdi_sio");
  EXPECT_EQ(d.vendorId + ":" + d.productId, "0403:6001");
  EXPECT_EQ(d.manufacturer, "FTDI");
  EXPECT_EQ(d.product, "FT232R USB UART");
  EXPECT_EQ(d.serial, "A50285BI");
  EXPECT_EQ(d.byId, std::vector<std::string>{byId() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"});
  EXPECT_EQ(d.holders, (std::vector<std::string>{"77 brltty", "812 ModemManager"}));
}

TEST_F(SysfsPortsTest, DescribesAnOnBoardUartAndAnUnknownPort) {
  sys_.Port("ttyS0", "serial8250", "4");
  const ktr::PortDetails uart = ktr::DescribePort("/dev/ttyS0", tty(), byId(), sys_.proc().string());
  EXPECT_EQ(uart.driver, "serial8250");
  EXPECT_TRUE(uart.vendorId.empty());
  EXPECT_TRUE(uart.byId.empty());
  EXPECT_TRUE(uart.holders.empty());
  const ktr::PortDetails none =
      ktr::DescribePort("/dev/ktr-no-such-port", tty(), byId(), sys_.proc().string());
  EXPECT_EQ(none.device, "/dev/ktr-no-such-port");
  EXPECT_TRUE(none.driver.empty());
}

}  // namespace
