// Fixture of the fault tests: real ktr-sim processes on a FaultBus, the
// configurator's real TKtrDevice and master on the bus's line, and the real
// web server (WebService on 127.0.0.1, a port the system picks) in front, so
// every request goes the whole way: HTTP, route table, access cycle, master,
// serial port, pty, simulator. Log lines and address lists are captured.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device_test_access.h"
#include "endpoint_cases.h"
#include "fault_bus.h"
#include "http_client.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "port_messages.h"
#include "pty_pair.h"
#include "sim_process.h"
#include "web_service.h"

namespace ktr::test {

// Reply time-out of the configurator in these tests: short, so that a
// silent device costs little, and still far above a pty round trip.
inline constexpr int kTimeoutMs = 200;

struct Answer {
  int status = 0;
  std::string body;
  long ms = 0;                   // from sending the request to the server's close
  std::vector<std::string> log;  // the lines the request wrote
  std::string deviceStatus;      // the X-Device-Status header
};

class BusTest : public ::testing::Test {
 protected:
  void TearDown() override {
    web_.reset();  // running requests finish first; each closes its port
    device_.reset();
  }

  // Starts a ktr-sim with `args`, puts it on the bus and returns its number.
  // Register 10080 is set running (1) first, straight through the
  // simulator's own line, so that the configuration status read tells the
  // device's value from the 0 that a failed command leaves behind.
  int AddSim(std::vector<std::string> args) {
    const int number = StartSim(std::move(args));
    AttachSim(number);
    return number;
  }
  // The two steps of AddSim, for a test that looks at the simulator in
  // between.
  int StartSim(std::vector<std::string> args) {
    sims_.push_back(std::make_unique<ktr::test::SimProcess>(std::move(args)));
    const int number = static_cast<int>(sims_.size()) - 1;
    TModbus direct;
    if (direct.OpenPort(DirectSettings(number)) == 0) {
      std::ignore = direct.WriteSingleRegister(10080, 0x5555);  // refused or lost by a faulty simulator
      direct.ClosePort();
    }
    return number;
  }
  void AttachSim(int number) {
    // Simulators join the bus in the order they start, so their numbers
    // on the bus and here are the same.
    ASSERT_EQ(bus_.Attach(Sim(number).link()), number);
  }
  ktr::test::SimProcess& Sim(int number) { return *sims_.at(static_cast<std::size_t>(number)); }
  // Points the configurator at another port (its settings record otherwise
  // kept), as the window's port field does.
  void SwitchPort(const std::string& portName) {
    SerialSettings s = device_->Settings();
    s.portName = portName;
    device_->SetSettings(s);
  }
  // Settings that reach simulator `number` straight, past the bus (only
  // while the bus does not hold it: before Attach, after Detach).
  SerialSettings DirectSettings(int number) {
    SerialSettings s;
    s.portName = Sim(number).link();
    s.timeoutMs = 1000;
    return s;
  }

  // The configurator on the bus's line (or on `portName`): slave 1, a 200 ms
  // reply time-out, firmware 0.35.4 (19 settings registers), web server on
  // 127.0.0.1.
  void StartConfigurator(const std::string& portName = {}) {
    device_ = std::make_unique<TKtrDevice>(
        modbus_,
        [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex_);
          log_.push_back(line);
        },
        [this](const std::vector<std::string>& list) {
          std::lock_guard<std::mutex> lock(mutex_);
          addressLists_.push_back(list);
        });
    SerialSettings s;
    s.portName = portName.empty() ? bus_.link() : portName;
    s.slaveAddress = 1;
    s.timeoutMs = kTimeoutMs;
    device_->SetSettings(s);
    test::DeviceTestAccess::SetFirmwareVersion(*device_, 0x2304);
    web_ = std::make_unique<WebService>(*device_,
                                        (std::filesystem::temp_directory_path() / "ktr-no-web").string());
    ASSERT_EQ(web_->Start("127.0.0.1", 0), "");
    port_ = web_->port();
  }

  Answer Call(const EndpointCase& endpoint) {
    TakeLog();
    const auto start = std::chrono::steady_clock::now();
    const test::Reply reply = endpoint.method == "POST"
                                  ? test::Request(port_, "POST", endpoint.target,
                                                  "application/x-www-form-urlencoded", endpoint.body)
                                  : test::Get(port_, endpoint.target);
    Answer a;
    a.ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
    a.status = reply.status;
    a.body = reply.body;
    a.deviceStatus = reply.Header("X-Device-Status");
    a.log = TakeLog();
    return a;
  }

  std::vector<std::string> TakeLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(log_, {});
  }
  // The address lists the configurator reported since the last call.
  std::vector<std::vector<std::string>> TakeAddressLists() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(addressLists_, {});
  }

  // Points the configurator at a port that does not exist (port_messages.h).
  void PointAtMissingPort() {
    SerialSettings s = device_->Settings();
    s.portName = ktr::test::kMissingPort;
    device_->SetSettings(s);
  }

  FaultBus bus_;
  std::vector<std::unique_ptr<ktr::test::SimProcess>> sims_;
  TModbus modbus_;
  std::unique_ptr<TKtrDevice> device_;
  std::unique_ptr<WebService> web_;
  std::uint16_t port_ = 0;

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<std::vector<std::string>> addressLists_;
};

// --- replies -----------------------------------------------------------------

// The value of a string member, e.g. Member(R"({"time":"09:05:07"})", "time").
inline std::string Member(const std::string& json, const std::string& key) {
  std::smatch m;
  const std::regex pattern("\"" + key + "\":\"([^\"]*)\"");
  return std::regex_search(json, m, pattern) ? m[1].str() : std::string();
}

// `json` with the string member `key` set to `value`.
inline std::string WithMember(const std::string& json, const std::string& key, const std::string& value) {
  return std::regex_replace(json, std::regex("\"" + key + "\":\"[^\"]*\""),
                            "\"" + key + "\":\"" + value + "\"", std::regex_constants::format_first_only);
}

// `json` with the number member `key` set to `value`.
inline std::string WithNumber(const std::string& json, const std::string& key, unsigned value) {
  return std::regex_replace(json, std::regex("\"" + key + "\":[0-9]+"),
                            "\"" + key + "\":" + std::to_string(value),
                            std::regex_constants::format_first_only);
}

// The clock members of the index and time replies read the device's running
// clock: each one is replaced by its shape, so replies of different moments
// compare equal when everything else is.
inline std::string WithoutClock(std::string json) {
  json =
      std::regex_replace(json, std::regex(R"("time":"[0-9]{2}:[0-9]{2}:[0-9]{2}")"), R"("time":"HH:MM:SS")");
  json = std::regex_replace(json, std::regex(R"("date":"[0-9]{2}-[0-9]{2}-20[0-9]{2}")"),
                            R"("date":"DD-MM-20YY")");
  json = std::regex_replace(json, std::regex(R"("date":"20[0-9]{2}-[0-9]{2}-[0-9]{2}")"),
                            R"("date":"20YY-MM-DD")");
  return json;
}

// "2024-02-29" as the index page writes it: "29-02-2024".
inline std::string DayFirst(const std::string& isoDate) {
  if (isoDate.size() != 10) return isoDate;
  return isoDate.substr(8, 2) + "-" + isoDate.substr(5, 2) + "-" + isoDate.substr(0, 4);
}

// Only the write frames (functions 6 and 16) of a request record.
inline std::vector<std::string> WriteFrames(const std::vector<Bytes>& frames) {
  std::vector<std::string> writes;
  for (const Bytes& f : frames) {
    if (f[1] == 6 || f[1] == 16) writes.push_back(ktr::test::ToHex(f));
  }
  return writes;
}

}  // namespace ktr::test
