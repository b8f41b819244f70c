#include "fleet_bench.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <tuple>
#include <vector>

#include "bench_support.h"
#include "bus_inventory.h"
#include "cgi_handler.h"
#include "config_restore.h"
#include "ktr_device.h"
#include "ktr_register_map.h"
#include "modbus_master.h"
#include "rtu_frame.h"
#include "sim_process.h"

namespace ktr::bench {
namespace {

constexpr unsigned kBaud = 19200;
constexpr double kTurnaroundMs = 2.0;  // ktr-sim's
constexpr double kPauseMs = 50.0;

double CharMs() { return static_cast<double>(rtu::CharacterTimeNs(kBaud, 8, 2, 0)) / 1e6; }
double QuietMs() { return static_cast<double>(rtu::QuietTimeNs(kBaud, 8, 2, 0)) / 1e6; }
double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Bytes and requests on the wire, from the master's trace.
struct WireCount {
  std::mutex mutex;
  std::size_t bytes = 0;
  std::size_t requests = 0;
  void Attach(TModbus& modbus) {
    modbus.SetTrace([this](bool sent, const std::uint8_t*, std::size_t length) {
      std::lock_guard<std::mutex> lock(mutex);
      bytes += length;
      if (sent) ++requests;
    });
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    bytes = requests = 0;
  }
  // The bits of every request and reply, each device's turnaround, and the
  // quiet time before the requests that follow a reply at once.
  double LimitMs(std::size_t pauses, std::size_t quiet) {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<double>(bytes) * CharMs() + static_cast<double>(requests) * kTurnaroundMs +
           static_cast<double>(pauses) * kPauseMs + static_cast<double>(quiet) * QuietMs();
  }
};

// The building of the fleet rows: four devices on the simulated wire.
std::vector<std::string> FourDevices() {
  return {"--address", "1",         "--address", "2",      "--address",
          "3",         "--address", "7",         "--wire", std::to_string(kBaud)};
}

SerialSettings LineTo(const std::string& port, std::uint8_t address) {
  SerialSettings s;
  s.portName = port;
  s.baudRate = kBaud;
  s.slaveAddress = address;
  return s;
}

void ScanAll() {
  double ours = 0, peer = 0;
  std::size_t found = 0;
  {
    ktr::test::SimProcess sim(
        {"--address", "5", "--address", "64", "--address", "126", "--wire", std::to_string(kBaud)});
    TModbus modbus;
    TKtrDevice device(modbus, nullptr, nullptr);
    device.SetSettings(LineTo(sim.link(), 1));
    const auto t0 = Clock::now();
    const InventoryResult r = RunInventory(device, 1000, {});
    ours = MsSince(t0);
    for (const InventoryEntry& e : r.devices) found += e.note.empty() ? 1U : 0U;
  }
  {
    // The first-device search covers the whole bus only when the one
    // device is at the last address.
    ktr::test::SimProcess sim({"--address", "126", "--wire", std::to_string(kBaud)});
    TModbus modbus;
    TKtrDevice device(modbus, nullptr, nullptr);
    device.SetSettings(LineTo(sim.link(), 1));
    const auto t0 = Clock::now();
    std::ignore = device.SearchDevice(sim.link(), {});  // only its time counts
    peer = MsSince(t0);
  }
  Row("scan --all, devices at 5, 64, 126 (19200 baud wire) vs the first-device search of the whole bus", ours,
      peer, "ms", "<= 5000 ms", found == 3 ? 0 : 1);
  // Its own limit: every probe's time-out (turnaround allowance plus the
  // probe's and its reply's wire time), then the three checks (8000, text,
  // version) on the wire, each after the quiet time.
  const double probeMs = kProbeTurnaroundMs + (8 + 7) * CharMs();
  const double checksMs =
      3 * ((8 + 7) + (8 + 5 + 2 * defaults::FirmwareTextRegisters(Firmware::kNew)) + (8 + 11)) * CharMs() +
      3 * 3 * (kTurnaroundMs + QuietMs());
  Row("scan --all (19200 baud wire) vs its limit (123 probe time-outs, 3 answers and checks)", ours,
      123 * probeMs + 3 * (8 + 7) * CharMs() + checksMs, "ms", "<= 1.1x");
}

// Every value of device 3 unlike the factory state (device 5 keeps it).
void ChangeEverything(const std::string& port) {
  TModbus m;
  // What fails here shows as fewer differences in the restore's line.
  std::ignore = m.OpenPort(LineTo(port, 3));
  const auto write = [&m](std::uint16_t start, std::vector<std::uint16_t> words) {
    std::ignore = m.WriteMultipleRegisters(start, static_cast<std::uint16_t>(words.size()), words.data());
  };
  write(reg::kDisplay.start, {11, 4, 1, 4, 4, 1});
  write(reg::kCounter.start, {1, 1, 2, 31, 1, 1, 2});
  write(reg::kS1ad, {3, 1, 2, 0, 0, 0, 0, 4, 3, 2, 0, 0, 0, 0, 2, 1, 6, 6});  // 10061-10078
  write(reg::kBrightness.start, {2, 9, 1, 3});
  for (int day = 0; day < 7; ++day) {
    std::vector<std::uint16_t> block(reg::kScheduleDayLength);
    block[0] = day % 2 == 0 ? 1 : 0;
    for (int i = 0; i < reg::kPlanEntries; ++i) {
      block[reg::PlanOffset(i)] = 1;
      block[reg::PlanOffset(i) + 1U] = static_cast<std::uint16_t>(((6 + i / 2) << 8) | ((i % 2) * 30 + day));
      block[reg::PlanOffset(i) + 2U] = static_cast<std::uint16_t>(4 + day);
    }
    for (int j = 0; j < reg::kLengthEntries; ++j) {
      for (int k = 0; k < 3; ++k)
        block[reg::LengthOffset(j) + static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(20 + j + k);
    }
    write(reg::ScheduleDay(day).start, std::vector<std::uint16_t>(block.begin(), block.begin() + 38));
    write(static_cast<std::uint16_t>(reg::ScheduleDay(day).start + 38),
          std::vector<std::uint16_t>(block.begin() + 38, block.end()));
  }
  write(reg::kConfigStatus, {kCommandValue});
  m.ClosePort();
}

void BackupAndRestore() {
  ktr::test::SimProcess sim({"--address", "3", "--address", "5", "--wire", std::to_string(kBaud)});
  ChangeEverything(sim.link());
  TModbus modbus;
  WireCount wire;
  wire.Attach(modbus);

  TKtrDevice source(modbus, nullptr, nullptr);
  source.SetSettings(LineTo(sim.link(), 3));
  auto t0 = Clock::now();
  const BackupResult backup = BackupDevice(source);
  const double backupMs = MsSince(t0);
  // Firmware: three reads back to back; then one access cycle with a pause
  // between its reads.
  std::size_t requests = wire.requests;
  Row("backup of a whole device (19200 baud wire) vs wire time + pauses", backupMs,
      wire.LimitMs(requests - 4, 3), "ms", "<= 1.1x", backup.error.empty() ? 0 : 1);

  TKtrDevice target(modbus, nullptr, nullptr);
  target.SetSettings(LineTo(sim.link(), 5));
  wire.Reset();
  t0 = Clock::now();
  const RestoreReport report = RestoreDevice(target, backup.configuration, {});
  const double restoreMs = MsSince(t0);
  requests = wire.requests;
  // Four access cycles (firmware, read, writes, read-back), each opened by a
  // request that follows the last reply at once; within the firmware read
  // two more, within the others a pause between requests.
  const std::size_t pauses = requests - 3 - 3;
  std::printf("| restore: %zu differences written, %zu verified, %zu requests |  |  |  |  |\n",
              report.Count(ChangeOutcome::kWritten), report.Verified(), requests);
  Row("restore of a whole device, every value different (19200 baud wire) vs wire time + pauses", restoreMs,
      wire.LimitMs(pauses, 5), "ms", "<= 1.1x", report.Ok() ? 0 : 1);
}

std::string Get(const CgiHandler& cgi, const std::string& path, const std::string& parameters = {}) {
  HttpResponse r;
  cgi.Dispatch(r, path, parameters);
  return r.text.value_or(std::string());
}

// "Find all devices" from the pages against scan --all on the same bus:
// the search of /find_all.cgi while the Bus page makes its own first reads
// (the settings, the device list, the configuration status) and asks for the
// search's state every 300 ms, and two more pages' device bars look every
// 3 s (they leave the device alone while a search runs).
void FindAllFromThePages(const std::vector<std::string>& simArgs, const std::string& what,
                         double floorExtraMs = 0, const std::string& floorWhat = "") {
  ktr::test::SimProcess sim(simArgs);
  double cli = 0;
  {
    TModbus modbus;
    TKtrDevice device(modbus, nullptr, nullptr);
    device.SetSettings(LineTo(sim.link(), 1));
    const auto t0 = Clock::now();
    std::ignore = RunInventory(device, 1000, {});
    cli = MsSince(t0);
  }
  TModbus modbus;
  TKtrDevice device(modbus, nullptr, nullptr);
  device.SetSettings(LineTo(sim.link(), 1));
  const CgiHandler cgi(device);
  const auto t0 = Clock::now();
  std::ignore = Get(cgi, "/find_all.cgi", "start=1");
  std::atomic<bool> done{false};
  std::thread busPage([&] {
    std::ignore = Get(cgi, "/get_set_data.cgi");
    std::ignore = Get(cgi, "/get_ktr_list.cgi");
    std::ignore = Get(cgi, "/get_config_status.cgi");
  });
  std::vector<std::thread> bars;
  for (int i = 0; i < 2; ++i) {
    bars.emplace_back([&] {
      while (!done.load()) {
        if (Get(cgi, "/find_all.cgi").find("\"state\":\"running\"") == std::string::npos) {
          std::ignore = Get(cgi, "/get_config_status.cgi");
        }
        for (int t = 0; t < 300 && !done.load(); ++t)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  while (Get(cgi, "/find_all.cgi").find("\"state\":\"done\"") == std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  const double pages = MsSince(t0);
  done.store(true);
  busPage.join();
  for (auto& bar : bars) bar.join();
  Row("Find all from the pages, " + what +
          " (19200 baud wire, the Bus page's reads and 2 pages' checks) vs scan --all" + floorWhat,
      pages, cli + floorExtraMs, "ms", "<= 1.2x");
}

// Choosing another device from the pages, to the first reading of Home.
void SwitchDevice() {
  ktr::test::SimProcess sim(FourDevices());
  TModbus modbus;
  WireCount wire;
  wire.Attach(modbus);
  TKtrDevice device(modbus, nullptr, nullptr);
  device.SetSettings(LineTo(sim.link(), 1));
  const CgiHandler cgi(device);
  std::ignore = Get(cgi, "/get_index_data.cgi");  // settles the firmware's settings length
  wire.Reset();
  const auto t0 = Clock::now();
  const bool chosen = Get(cgi, "/select_device.cgi", "address=3").find("\"yes\"") != std::string::npos;
  const std::string first = Get(cgi, "/get_index_data.cgi");
  const double ms = MsSince(t0);
  // The firmware's three reads back to back, then Home's four block reads
  // with a pause between two.
  Row("choose address 3 to Home's first reading (19200 baud wire) vs wire time + pauses", ms,
      wire.LimitMs(3, 3), "ms", "<= 1.1x", chosen && !first.empty() ? 0 : 1);
}

// One configuration file written to three devices (what a building shares:
// display, time zone, a schedule day), against the wire time and pauses.
void OneFileToThreeDevices() {
  ktr::test::SimProcess sim(FourDevices());
  TModbus modbus;
  WireCount wire;
  wire.Attach(modbus);
  TKtrDevice source(modbus, nullptr, nullptr);
  source.SetSettings(LineTo(sim.link(), 1));
  BackupResult backup = BackupDevice(source);
  DeviceConfiguration& file = backup.configuration;
  file.display[0] = 15;
  file.tz = 2;
  file.counter[3] = 45;
  file.schedule[1][0] = 0;
  file.schedule[1][table::kPlanOffset] = 1;
  file.schedule[1][table::kPlanOffset + 1] = 0x0700;
  wire.Reset();
  std::size_t verified = 0;
  bool ok = true;
  const auto t0 = Clock::now();
  for (const int address : {2, 3, 7}) {
    TKtrDevice target(modbus, nullptr, nullptr);
    target.SetSettings(LineTo(sim.link(), static_cast<std::uint8_t>(address)));
    const RestoreReport report = RestoreDevice(target, file, {});
    verified += report.Verified();
    ok = ok && report.Ok();
  }
  const double ms = MsSince(t0);
  const std::size_t requests = wire.requests;
  std::printf("| one file to 3 devices: %zu values written and verified, %zu requests |  |  |  |  |\n",
              verified, requests);
  Row("one file to three devices (19200 baud wire) vs wire time + pauses", ms,
      wire.LimitMs(requests - 3 * 6, 3 * 5), "ms", "<= 1.1x", ok ? 0 : 1);
}

// A save on a silent device while five more pages read it without a break
// (each its own block, so no read shares another's reply): the save waits
// for the read that holds the device, then its own write times out.
void SaveBehindSilentReads() {
  ktr::test::SimProcess sim({"--address", "1", "--fault", "silent", "--wire", std::to_string(kBaud)});
  TModbus modbus;
  TKtrDevice device(modbus, nullptr, nullptr);
  device.SetSettings(LineTo(sim.link(), 1));
  const CgiHandler cgi(device);
  std::atomic<bool> done{false};
  std::vector<std::thread> pages;
  for (const char* path : {"/get_index_data.cgi", "/get_time_data.cgi", "/get_display_data.cgi",
                           "/get_counter_data.cgi", "/get_sched_data.cgi&mon"}) {
    pages.emplace_back([&, path] {
      while (!done.load()) std::ignore = Get(cgi, path);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // every page's read under way
  // Saves at several moments of the reads' cycles (a read waiting for its
  // reply, or for a quiet line first): the slowest counts. Each saves
  // another value, as a technician trying again would (the same write again
  // waits for the unanswered one's late reply: it would pass for its own).
  double slowest = 0;
  int failures = 0;
  int value = 12;
  for (const int gapMs : {0, 250, 600, 1150, 1500}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    const auto t0 = Clock::now();
    HttpResponse save;
    cgi.Dispatch(save, "/setdata.cgi", "tmpe=" + std::to_string(value++));
    slowest = std::max(slowest, MsSince(t0));
    if (save.deviceStatus.rfind("no-reply", 0) != 0) ++failures;
  }
  done.store(true);
  for (auto& page : pages) page.join();
  // One device cycle: the time-out and the wire time of a request and its reply.
  const double cycleMs = 1000 + (8 + 7) * CharMs();
  Row("the slowest of 5 saves on a silent device behind 5 pages' reads (19200 baud wire) vs two device "
      "cycles",
      slowest, 2 * cycleMs, "ms", "<= 2500 ms", failures);
}

}  // namespace

void FleetSection(bool quick) {
  ScanAll();
  FindAllFromThePages(FourDevices(), "4 devices");
  if (quick) return;
  // On a silent bus the Bus page's two reads of the device wait out a
  // time-out each (a silent device's read gives up its other blocks while
  // the search waits).
  FindAllFromThePages({"--address", "1", "--fault", "silent", "--wire", std::to_string(kBaud)},
                      "a silent bus", 2 * (1000 + (8 + 7) * CharMs()),
                      " + the Bus page's 2 reads' time-outs");
  SwitchDevice();
  OneFileToThreeDevices();
  SaveBehindSilentReads();
  BackupAndRestore();
}

}  // namespace ktr::bench
