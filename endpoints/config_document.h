// The configuration file of one device (docs/config-file.md): the blocks the
// pages can change, under the pages' keys, with the device's identity. Built
// from a device by a backup, read and checked for a restore.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "register_table.h"

namespace ktr {

inline constexpr std::string_view kConfigFormat = "ktr-configuration";
// Version 2 added the time zone and daylight saving ("time"); files of
// version 1 still load, without them.
inline constexpr int kConfigFormatVersion = 2;
inline constexpr int kConfigFormatVersionWithoutTime = 1;

struct DeviceConfiguration {
  // Identity: never written to a device.
  std::string firmware;               // UTF-8
  std::uint32_t firmwareVersion = 0;  // packed: 0, major, minor, patch
  int address = 0;
  std::string taken;  // when the backup was taken, UTC

  std::array<std::uint16_t, table::kDisplay.size()> display{};
  std::array<std::uint16_t, table::kCounter.size()> counter{};
  // Time zone and daylight saving (10026, 10027), under the keys of the
  // time endpoint; a building's devices share them. Absent from files of
  // format version 1 (hasTime false): then neither is compared or written.
  bool hasTime = true;
  std::uint16_t tz = 0;
  std::uint16_t dst = 0;
  std::array<std::uint16_t, table::kDeviceSettings.size()> settings{};  // table order
  // Each day's block as the device keeps it (enable word, plan, lengths).
  std::array<std::array<std::uint16_t, table::kScheduleDayLength>, table::kDays> schedule{};
  std::uint16_t configStatus = 0;

  bool operator==(const DeviceConfiguration&) const = default;
};

// A file that cannot be used: the key and the reason, e.g.
// "counter.lm_m: 70000 is out of range (0 to 65535)".
class ConfigFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The document, laid out as docs/config-file.md says (stable: the same
// configuration gives the same text).
std::string ConfigurationJson(const DeviceConfiguration& configuration);

// Reads and checks a whole document; throws ConfigFileError at the first
// problem.
DeviceConfiguration ParseConfiguration(std::string_view text);

// "0.35.4" from a packed version, and back (false when it is no such text).
std::string VersionText(std::uint32_t packed);
[[nodiscard]] bool ParseVersionText(std::string_view text, std::uint32_t& packed);

// The setting's index in DeviceConfiguration::settings.
std::size_t SettingIndex(std::uint16_t reg);

// "2024-05-01T07:30:00Z": the computer's time now, in UTC.
std::string UtcTimestampNow();

}  // namespace ktr
