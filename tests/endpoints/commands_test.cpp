// Login, logout, factory defaults and run configuration, against ktr-sim and
// against a device that records the exact request frames.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "device_test_access.h"
#include "write_checks.h"

namespace {

using ktr::test::DeviceTest;
using ktr::test::EchoBus;
using ktr::test::RegisterSnapshot;
using ktr::test::ToHex;
using ktr::test::WriteSingleFrame;
using Lists = std::vector<std::vector<std::string>>;

constexpr const char* kYes = R"({"answer":"yes"})";
constexpr const char* kNo = R"({"answer":"no"})";

class CommandsTest : public DeviceTest {
 protected:
  // Puts 1 into ConfigStatus the way a status read does.
  void MakeConfigStatusOne() {
    WriteSim(ktr::reg::kConfigStatus, {ktr::kCommandValue});
    ASSERT_EQ(device_->GetConfigStatus(), R"({"value":1})");
    ASSERT_EQ(ktr::test::DeviceTestAccess::Data(*device_).ConfigStatus, 1U);
  }
};

TEST_F(CommandsTest, LoginLooksForTheExactText) {
  const struct {
    std::string text;
    const char* answer;
  } cases[] = {
      {"login_pssw:pelko", kYes},
      {"user=x&login_pssw:pelko&lang=sk", kYes},
      {"login_pssw:pelko123", kYes},
      {"xlogin_pssw:pelkox", kYes},
      {"login_pssw=pelko", kNo},
      {"LOGIN_PSSW:PELKO", kNo},
      {"login_pssw:Pelko", kNo},
      {"login_pssw:pelk", kNo},
      {"login_pssw%3Apelko", kNo},
      {"login_pssw: pelko", kNo},
      {"", kNo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(device_->Login(c.text), c.answer);
  }
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(CommandsTest, LoginAndLogoutNeverTouchTheDevice) {
  PointAtMissingPort();
  EXPECT_EQ(device_->Login("login_pssw:pelko"), kYes);
  EXPECT_EQ(device_->Login("nothing"), kNo);
  EXPECT_EQ(device_->Logout(), kYes);
  EXPECT_TRUE(TakeLog().empty()) << "no port was opened";
}

TEST_F(CommandsTest, AfterAFailedLoginTheOtherEndpointsWork) {
  EXPECT_EQ(device_->Login("login_pssw=pelko"), kNo);
  EXPECT_EQ(device_->SetData("tmpe=9"), kYes);
  EXPECT_EQ(ReadSim(ktr::reg::kDisplay.start, 1)[0], 9);
  EXPECT_EQ(device_->Logout(), kYes);
  EXPECT_EQ(device_->SetData("tmpe=8"), kYes);
  EXPECT_EQ(ReadSim(ktr::reg::kDisplay.start, 1)[0], 8);
}

TEST_F(CommandsTest, SetDefaultRestoresTheDeviceAndResetsTheAddressList) {
  WriteSim(ktr::reg::kDisplay.start, {99, 98});
  WriteSim(ktr::reg::kDiad, {12});
  MakeConfigStatusOne();
  const std::uint8_t slave = device_->Settings().slaveAddress;

  EXPECT_EQ(device_->SetDefault(), kYes);

  EXPECT_EQ(ReadSim(ktr::reg::kDisplay.start, 2), (std::vector<std::uint16_t>{10, 3}));
  EXPECT_EQ(ReadSim(ktr::reg::kDiad, 1)[0], ktr::defaults::kAddress);
  EXPECT_EQ(ReadSim(ktr::reg::kConfigStatus, 1)[0], ktr::kConfigFactory);
  EXPECT_EQ(TakeAddressLists(), (Lists{{"1"}}));
  EXPECT_EQ(ktr::test::DeviceTestAccess::Data(*device_).ConfigStatus, 0U);
  EXPECT_EQ(device_->Settings().slaveAddress, slave);
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(CommandsTest, SetDefaultKeepsAddressingTheFoundDevice) {
  StartDevice({"--address", "5"});
  EXPECT_EQ(device_->SetDefault(), kYes);
  EXPECT_EQ(TakeAddressLists(), (Lists{{"1"}}));
  EXPECT_EQ(device_->Settings().slaveAddress, 5);
  // The next request still goes to address 5, where the device answers.
  EXPECT_EQ(device_->SetData("dtpe=7"), kYes);
  EXPECT_EQ(ReadSim(ktr::reg::kDisplay.start + 1, 1)[0], 7);
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(CommandsTest, RunConfigStartsTheConfiguration) {
  MakeConfigStatusOne();
  WriteSim(ktr::reg::kFactoryDefaults, {ktr::kCommandValue});  // device back to status 0
  ASSERT_EQ(ReadSim(ktr::reg::kConfigStatus, 1)[0], ktr::kConfigFactory);
  const auto before = RegisterSnapshot(device_->Settings());

  device_->RunConfig();

  const auto changed = ktr::test::Changed(before, RegisterSnapshot(device_->Settings()));
  EXPECT_EQ(changed, (ktr::test::Registers{{ktr::reg::kConfigStatus, ktr::kConfigRunning}}));
  EXPECT_EQ(ktr::test::DeviceTestAccess::Data(*device_).ConfigStatus, 0U);
  EXPECT_TRUE(TakeAddressLists().empty());
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(CommandsTest, LoginDoesNotWaitForTheDevice) {
  // A device that answers only after 1.5 s keeps SetDefault inside its
  // access cycle for at least the reply time-out (1 s).
  StartDevice({"--fault", "slow=1500"});
  std::atomic<bool> done{false};
  std::thread command([&] {
    EXPECT_EQ(device_->SetDefault(), kYes);
    done = true;
  });
  // The address list changes inside the cycle, before the write.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (TakeAddressLists().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(device_->Login("login_pssw:pelko"), kYes);
  EXPECT_EQ(device_->Logout(), kYes);
  EXPECT_FALSE(done) << "login waited for the device cycle";
  command.join();
}

TEST(CommandFrames, EachCommandIsOneSingleRegisterWrite) {
  EchoBus bus;
  EXPECT_EQ(bus.device().SetDefault(), kYes);
  bus.device().RunConfig();
  EXPECT_EQ(bus.Frames(), (std::vector<std::string>{ToHex(WriteSingleFrame(1, 10082, 0x5555)),
                                                    ToHex(WriteSingleFrame(1, 10080, 0x5555))}));
  EXPECT_TRUE(bus.Log().empty());
}

}  // namespace
