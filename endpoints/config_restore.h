// Backup, restore and clone of a device's configuration (docs/config-file.md):
// what differs between a file and a device, the writes that make the device
// hold the file's values, and the read-back that checks them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config_document.h"
#include "ktr_device.h"

namespace ktr {

// Reads the firmware text and version (which also sets the 17/19-register
// rule of the settings block) and every block of the file. `error` is ""
// or why the backup cannot be used.
struct BackupResult {
  std::string error;
  DeviceConfiguration configuration;
};
[[nodiscard]] BackupResult BackupDevice(TKtrDevice& device);

// Where a value lives in a DeviceConfiguration.
struct ConfigField {
  enum class Kind { kDisplay, kCounter, kSetting, kSchedule, kConfigStatus, kTime };
  Kind kind = Kind::kDisplay;
  // display, counter, setting: the table row; schedule: the word in the day;
  // time: 0 the time zone, 1 daylight saving
  std::size_t index = 0;
  int day = 0;
  std::size_t count = 1;  // schedule: 1 (ena) or 3 (an entry)
};
std::vector<std::uint16_t> FieldWords(const DeviceConfiguration& c, const ConfigField& field);

// One value that differs, and the request that writes the file's value.
struct ConfigChange {
  std::string name;  // "display.tmpe", "schedule.mon plan row 3", "config_status.value"
  std::string from;  // the device's value
  std::string to;    // the file's
  ConfigField field;
  TKtrDevice::RegisterWrite write;
  bool writable = true;
  std::string note;  // why it is not written, when not writable
};

// What the device keeps of the file: poll only on the device at bus address
// 1 whose diad is 1 (and only from a file whose diad is 1), s1rf and s2rf
// only from firmware 0.35.4 on.
struct DeviceTraits {
  bool keepsPoll = false;
  bool longSettings = true;
};
// Every difference, in the order of writing: display, counter, time zone
// and daylight saving (when the file has them), settings,
// the days' enable words, plan and length entries, the configuration
// status last. diad is never among them.
std::vector<ConfigChange> Differences(const DeviceConfiguration& device, const DeviceConfiguration& file,
                                      const DeviceTraits& traits);

enum class ChangeOutcome {
  kNotWritten,  // dry run, not writable, or after the device stopped answering
  kWritten,
  kRefused,  // the device answered the write with an exception
  kFailed,   // no reply, a bad reply or a port failure: the writes stopped here
};

struct ChangeResult {
  ConfigChange change;
  ChangeOutcome outcome = ChangeOutcome::kNotWritten;
  std::int32_t code = 0;  // the write's result
  bool verified = false;  // read back with the file's value
};

struct RestoreReport {
  int address = 0;
  std::string firmware;
  std::uint32_t firmwareVersion = 0;
  std::string error;    // the device could not be read: nothing written
  std::string refused;  // its firmware differs from the file's: nothing written
  std::vector<ChangeResult> changes;
  std::string stopped;      // the write that failed and why; the rest were not written
  std::string verifyError;  // the read-back failed
  bool dryRun = false;

  std::size_t Count(ChangeOutcome outcome) const;
  std::size_t Verified() const;
  // Every change that can be written written and verified (on a dry run:
  // the device read and not refused).
  bool Ok() const;
};

struct RestoreOptions {
  bool dryRun = false;
  bool force = false;  // write even when the firmware differs
  // Once the differences are known, before anything is written (and on a
  // dry run).
  std::function<void(const RestoreReport& report)> differences;
  // After each write: how many of the writable changes are done.
  std::function<void(std::size_t done, std::size_t total)> progress;
};

// Reads the device, compares, writes what differs and reads it back. The
// device object addresses the device to restore (its settings' address).
[[nodiscard]] RestoreReport RestoreDevice(TKtrDevice& device, const DeviceConfiguration& file,
                                          const RestoreOptions& options);

}  // namespace ktr
