// TKtrDevice: the configurator's side of the one KTR device on the bus. It
// holds the serial settings, the device mutex, the register image and the
// decoded device data, and its methods are the endpoint handlers that the
// web server calls. It knows no window: it reaches the operator only through
// two callbacks (append a log line; replace the device address list).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ktr_data.h"
#include "modbus_master.h"
#include "serial_settings.h"

namespace ktr {

namespace table {
struct BlockRead;
}
struct DeviceConfiguration;
class FindAllScan;
namespace test {
struct DeviceTestAccess;  // tests/support/device_test_access.h
}

// The bus addresses a device can have (Modbus RTU unicast addresses).
inline constexpr int kFirstBusAddress = 1;
inline constexpr int kLastBusAddress = 247;

// Calendar fields of the device clock; the year in full (2000-2099).
struct ClockTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

class TKtrDevice {
 public:
  using LogFn = std::function<void(const std::string& line)>;
  using AddressListFn = std::function<void(const std::vector<std::string>& addresses)>;

  // Progress of a device search, for the window's gauge.
  struct SearchProgress {
    std::function<void(int minimum, int maximum, int position)> gauge;
    // Asked before each address; true ends the scan at once (the program is
    // closing): the search then returns false and logs nothing more.
    std::function<bool()> stopRequested;
  };

  // The worker must outlive this object. Callbacks may be called from any
  // thread (connection threads, the search thread); they may be empty.
  TKtrDevice(TModbus& modbus, LogFn log, AddressListFn addressList);
  // Stops a running search of /find_all.cgi.
  ~TKtrDevice();
  TKtrDevice(const TKtrDevice&) = delete;
  TKtrDevice& operator=(const TKtrDevice&) = delete;

  // --- serial settings (copied under a short lock of their own) ---
  SerialSettings Settings() const;
  void SetSettings(const SerialSettings& settings);

  // --- device search ---
  // Scans addresses 1 to 126 on `portName` for the first device that
  // answers, then reads its firmware text and version. Returns true when a
  // device was found (the window then enables Start).
  [[nodiscard]] bool SearchDevice(const std::string& portName, const SearchProgress& progress);
  // Reads registers 8000, 8001.. and 5000-5002; fills `text` (at most 256
  // characters, Latin-1 as read) and sets FirmwareVersion. 0 on success.
  [[nodiscard]] std::int32_t ReadDeviceVersion(std::string& text);

  // --- endpoint handlers: each returns the reply body ---
  std::string GetIndexData();
  std::string GetDisplayData();
  std::string GetTimeData();
  std::string GetCounterData();
  std::string GetSetData();
  std::string GetSchedData(int dayIndex);
  std::string GetWebData();
  std::string GetConfigStatus();
  std::string GetKtrList();
  std::string Login(const std::string& parameters);
  std::string Logout();
  std::string SetDefault();
  void RunConfig();
  // These two throw FieldConversionError for a value that is no integer.
  std::string SetSchedData(const std::string& parameters);
  std::string SetData(const std::string& parameters);
  // "/find_all.cgi": "start=1" starts a search of every address in the
  // background; anything else answers its state (docs/config-file.md).
  std::string FindAll(const std::string& parameters);
  // "/select_device.cgi": "address=N" makes the device at bus address N the
  // device of every later request (SelectAddress), answering
  // {"answer":"yes","address":N,"firmware":"TEXT","version":"A.B.C"} or
  // {"answer":"no","reason":"..."}.
  std::string SelectDevice(const std::string& parameters);

  // Makes the device at `address` (1-247) the device in use: under
  // DeviceMutex it reads the firmware text and version as the search does
  // and, only when that succeeds, sets the address of every later access
  // cycle, the firmware and the window's address list. Returns "" or why
  // nothing changed ("address 9 does not answer (no reply)").
  [[nodiscard]] std::string SelectAddress(int address);

  // --- many devices on the bus (bus_inventory.cpp, config_access.cpp,
  // clock_setting.cpp). None of these changes the device's own settings:
  // another address is reached with a copy of them.

  // One probe of register 8000 at `address` with the reply time-out
  // `timeoutMs`, in an access cycle of its own (DeviceMutex for this probe
  // only).
  struct Probe {
    std::int32_t code = 0;
    RequestFailure failure = RequestFailure::None;
    std::size_t replyBytes = 0;  // bytes that came, the echo not counted
  };
  [[nodiscard]] Probe ProbeAddress(std::uint8_t address, std::int32_t timeoutMs);
  // The firmware text (UTF-8) and version of the device at `address`, read
  // as ReadDeviceVersion reads them. 0 on success; a port that cannot be
  // opened is logged as the search logs it.
  // `failure`, when given, receives the kind of the failure.
  [[nodiscard]] std::int32_t ReadFirmwareAt(std::uint8_t address, std::int32_t timeoutMs, std::string& text,
                                            std::uint32_t& version, RequestFailure* failure = nullptr);

  // The blocks of a configuration file.
  struct ConfigBlocks {
    bool display = false, counter = false, settings = false, configStatus = false;
    bool time = false;  // time zone and daylight saving (the clock block)
    std::array<bool, 7> days{};
    static ConfigBlocks All();
  };
  // Reads the blocks into the image with the endpoints' block reads (their
  // log lines, 50 ms apart, one access cycle), converts them as the read
  // endpoints do and copies the values into `into`. The settings block is
  // the settings endpoint's whole read (10060.., 10300-10303, 10080, and
  // 10084 and the device list at bus address 1), which brings the
  // configuration status too. Returns "" or what failed first, as the
  // device status header gives it ("no-reply SET_14000_14075"). Not for
  // use while a reply is being built on this thread.
  [[nodiscard]] std::string ReadConfigurationBlocks(const ConfigBlocks& blocks, DeviceConfiguration& into);
  // One register write as the write endpoints make it: function 6 for one
  // word, 16 for several.
  struct RegisterWrite {
    std::uint16_t start = 0;
    std::vector<std::uint16_t> words;
  };
  // The writes in order, 50 ms apart, in one access cycle. After each,
  // `after(index, result)` is called; false stops the writes. Returns false
  // when the port could not be opened (nothing written).
  [[nodiscard]] bool WriteRegisters(const std::vector<RegisterWrite>& writes,
                                    const std::function<bool(std::size_t index, std::int32_t result)>& after);

  // Sets the clock as the time page does ("tm", then "dt": two function-16
  // writes) and reads it back. `timeAt(ahead)` gives the time to write for
  // the moment `ahead` from now (when the write will have arrived).
  struct ClockReport {
    std::string failure;  // "" or what failed ("port-error", "no-reply SET_10023_10025", ...)
    ClockTime written;
    ClockTime read;         // as read back (valid only without a failure)
    bool verified = false;  // the clock read back runs within 2 s of the written time
  };
  [[nodiscard]] ClockReport SetClock(const std::function<ClockTime(std::chrono::milliseconds ahead)>& timeAt);

  // --- state, for the window and for tests ---
  std::string FirmwareTextCopy() const;  // UTF-8
  std::uint32_t FirmwareVersionValue() const;
  // A copy taken under DeviceMutex.
  std::array<std::uint16_t, kRegisterImageSize> ImageCopy();
  // Makes them this object's device's firmware text (UTF-8) and version,
  // as a search does.
  void SetFirmware(const std::string& text, std::uint32_t version);

  // Appends a line to the operator's log (through the log callback).
  void Log(const std::string& line) const;

 private:
  friend class AccessCycle;
  friend struct test::DeviceTestAccess;

  void ReplaceAddressList(const std::vector<std::string>& addresses) const;

  // ReadHoldingRegisters of the block into its place in the image; logs
  // its error line when the read fails (the place keeps its earlier
  // values).
  std::int32_t ReadBlock(const table::BlockRead& block);
  // The settings block from 10060: 19 registers from firmware 0.35.4 on,
  // 17 before, with 10077 and 10078 preset to 1 so that a short read leaves
  // 1 in both.
  void ReadSettingsRegisters();
  // Records a failed request (r != result::kOk) of block `block` for the reply's
  // device status, with the kind the master gives.
  void NoteResult(std::int32_t r, const std::string& block) const;

  // Block reads used by several handlers (each inside an open port).
  void ReadIndexBlocks();
  // The settings endpoint's reads: the settings registers, the brightness,
  // the configuration status and, at bus address 1, poll and the device
  // list.
  void ReadSettingsCycle();
  void ReadScheduleDay(int dayIndex);

  // ConvertSettings and ConvertDeviceList (converters.h), the list under
  // the report lock.
  void ConvertSettingsAndList();

  TModbus& modbus_;
  LogFn log_;
  AddressListFn addressList_;

  mutable std::mutex settingsMutex_;
  SerialSettings SerialSettings_;

  // The one lock of the device: held for a whole access cycle, by every
  // handler that talks to the device and by the search.
  std::mutex DeviceMutex;
  // Access cycles waiting for DeviceMutex; the probes of a search of every
  // address wait until there are none, so that the pages are not starved.
  std::atomic<int> cyclesWaiting_{0};
  // Probes of a search of every address waiting for the device.
  std::atomic<int> probesWaiting_{0};
  // DeviceMutex for one probe, once no access cycle waits for it.
  std::unique_lock<std::mutex> LockForProbe();

  // DeviceMutex, taken through a gate that grants it in turn: a waiting
  // write (a save of a page, a choice of device) goes before every waiting
  // read, so that a save does not queue behind the reads of many open pages
  // (std::mutex alone is not fair either: a thread that unlocks and locks
  // again at once would keep it). Releases both when it ends.
  class DeviceLock {
   public:
    DeviceLock() = default;
    explicit DeviceLock(TKtrDevice* device) : device_(device) {}
    DeviceLock(DeviceLock&& other) noexcept : device_(other.device_) { other.device_ = nullptr; }
    DeviceLock& operator=(DeviceLock&& other) noexcept;
    ~DeviceLock() { unlock(); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    void unlock();

   private:
    TKtrDevice* device_ = nullptr;
  };
  // Counted in cyclesWaiting_ while waiting; `write` marks a write.
  DeviceLock LockDevice(bool write = false);
  std::mutex gateMutex_;
  std::condition_variable gateFree_;
  bool gateHeld_ = false;              // under gateMutex_
  std::atomic<int> writesWaiting_{0};  // changed under gateMutex_

  std::array<std::uint16_t, kRegisterImageSize> RegisterImage{};
  KTR_DATA KtrData{};
  std::array<SCHEDULER_DATA, 7> SchedulerData{};
  std::uint32_t FirmwareVersion = 0;  // bytes 0, major, minor, patch

  // Firmware text and device list, as reported by GetWebData/GetKtrList,
  // which answer without waiting for DeviceMutex: writers update them under
  // this short lock, readers take a consistent copy under it.
  mutable std::mutex reportMutex_;
  std::string FirmwareText;  // UTF-8

  // Whether this access cycle has logged that the port went away (under
  // DeviceMutex; AccessCycle clears it at each open).
  bool linkLossLogged_ = false;

  // The background search of /find_all.cgi, once started. Declared last:
  // destroyed first, it stops its thread while everything it uses is there.
  struct FindAllStop {
    void operator()(FindAllScan* scan) const;  // stops, joins, frees
  };
  std::mutex findAllMutex_;
  std::unique_ptr<FindAllScan, FindAllStop> findAll_;
};

}  // namespace ktr
