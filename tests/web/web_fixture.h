// Fixtures of the web tests: the real WebService on 127.0.0.1 with a port
// the system picks, over a temporary web root.
//
// WebServiceTest: the device has no port to open; for files, the front-end
// rules and the endpoints that never touch the device (login, logout).
// WebDeviceTest: the device is wired to a real ktr-sim (see DeviceTest).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../endpoints/device_fixture.h"
#include "http_client.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "web_root.h"
#include "web_service.h"

namespace ktr::test {

class WebServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(service_.Start("127.0.0.1", 0), "");
    port_ = service_.port();
    ASSERT_NE(port_, 0);
  }

  Reply Get(std::string_view target) { return test::Get(port_, target); }

  TModbus modbus_;
  TKtrDevice device_{modbus_, {}, {}};
  TempWebRoot root_;
  WebService service_{device_, root_.root()};
  std::uint16_t port_ = 0;
};

class WebDeviceTest : public ktr::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    StartService();
  }
  void TearDown() override { service_.reset(); }

  // A new simulator (and device); the service follows it.
  void RestartDevice(std::vector<std::string> simArgs) {
    service_.reset();
    StartDevice(std::move(simArgs));
    StartService();
  }

  Reply Get(std::string_view target) { return test::Get(port_, target); }
  Reply Post(std::string_view target, std::string_view body) {
    return test::Request(port_, "POST", target, "application/x-www-form-urlencoded", body);
  }

  TempWebRoot root_;
  std::unique_ptr<WebService> service_;
  std::uint16_t port_ = 0;

 private:
  void StartService() {
    service_ = std::make_unique<WebService>(*device_, root_.root());
    ASSERT_EQ(service_->Start("127.0.0.1", 0), "");
    port_ = service_->port();
  }
};

}  // namespace ktr::test
