#include "config_restore.h"

#include <algorithm>

#include "json_reply.h"
#include "modbus_master.h"
#include "register_table.h"

namespace ktr {
namespace {

std::string DayName(int day) { return std::string(table::kDayNames[static_cast<std::size_t>(day)]); }

std::string PlanText(const std::uint16_t* w) {
  return "status " + std::to_string(w[0]) + " time " + table::ScheduleTimeText(w[1]) + " len " +
         std::to_string(w[2]);
}

// The registers run ws, bb, eb; the pages show bb, eb, ws.
std::string LengthText(const std::uint16_t* w) {
  return "len_bb " + std::to_string(w[1]) + " len_eb " + std::to_string(w[2]) + " len_ws " +
         std::to_string(w[0]);
}

ConfigChange Single(std::string name, ConfigField field, std::uint16_t reg, std::uint16_t from,
                    std::uint16_t to) {
  ConfigChange c;
  c.name = std::move(name);
  c.from = std::to_string(from);
  c.to = std::to_string(to);
  c.field = field;
  c.write = {reg, {to}};
  return c;
}

// The blocks to read back for the changes written.
TKtrDevice::ConfigBlocks BlocksOf(const std::vector<ChangeResult>& results) {
  TKtrDevice::ConfigBlocks blocks;
  for (const ChangeResult& r : results) {
    if (r.outcome != ChangeOutcome::kWritten) continue;
    switch (r.change.field.kind) {
      case ConfigField::Kind::kDisplay: blocks.display = true; break;
      case ConfigField::Kind::kCounter: blocks.counter = true; break;
      case ConfigField::Kind::kSetting: blocks.settings = true; break;
      case ConfigField::Kind::kSchedule:
        blocks.days[static_cast<std::size_t>(r.change.field.day)] = true;
        break;
      case ConfigField::Kind::kConfigStatus: blocks.configStatus = true; break;
      case ConfigField::Kind::kTime: blocks.time = true; break;
    }
  }
  return blocks;
}

}  // namespace

std::vector<std::uint16_t> FieldWords(const DeviceConfiguration& c, const ConfigField& f) {
  switch (f.kind) {
    case ConfigField::Kind::kDisplay: return {c.display[f.index]};
    case ConfigField::Kind::kCounter: return {c.counter[f.index]};
    case ConfigField::Kind::kSetting: return {c.settings[f.index]};
    case ConfigField::Kind::kConfigStatus: return {c.configStatus};
    case ConfigField::Kind::kTime: return {f.index == 0 ? c.tz : c.dst};
    case ConfigField::Kind::kSchedule: {
      const auto& day = c.schedule[static_cast<std::size_t>(f.day)];
      return {day.begin() + static_cast<std::ptrdiff_t>(f.index),
              day.begin() + static_cast<std::ptrdiff_t>(f.index + f.count)};
    }
  }
  return {};
}

BackupResult BackupDevice(TKtrDevice& device) {
  BackupResult result;
  DeviceConfiguration& c = result.configuration;
  const SerialSettings settings = device.Settings();
  RequestFailure failure = RequestFailure::None;
  if (const std::int32_t r = device.ReadFirmwareAt(settings.slaveAddress, settings.timeoutMs, c.firmware,
                                                   c.firmwareVersion, &failure);
      r != result::kOk) {
    result.error =
        failure == RequestFailure::Port && r == result::kFailed
            ? "the port could not be opened"
            : "firmware registers (8000, 8001 on, 5000-5002): " + std::to_string(r) + " " + ResultText(r);
    return result;
  }
  // The version decides the length of the settings block read next.
  device.SetFirmware(c.firmware, c.firmwareVersion);
  c.address = settings.slaveAddress;
  c.taken = UtcTimestampNow();
  result.error = device.ReadConfigurationBlocks(TKtrDevice::ConfigBlocks::All(), c);
  return result;
}

std::vector<ConfigChange> Differences(const DeviceConfiguration& device, const DeviceConfiguration& file,
                                      const DeviceTraits& traits) {
  using Kind = ConfigField::Kind;
  std::vector<ConfigChange> changes;
  for (std::size_t i = 0; i < table::kDisplay.size(); ++i) {
    if (device.display[i] == file.display[i]) continue;
    changes.push_back(Single("display." + std::string(table::kDisplay[i].key), {Kind::kDisplay, i},
                             table::kDisplay[i].reg, device.display[i], file.display[i]));
  }
  for (std::size_t i = 0; i < table::kCounter.size(); ++i) {
    if (device.counter[i] == file.counter[i]) continue;
    changes.push_back(Single("counter." + std::string(table::kCounter[i].key), {Kind::kCounter, i},
                             table::kCounter[i].reg, device.counter[i], file.counter[i]));
  }
  // As the time page writes them ("t_zone", "dst"): function 6 each.
  if (file.hasTime && device.tz != file.tz) {
    changes.push_back(Single("time.tz", {Kind::kTime, 0}, table::kTimeZoneRegister, device.tz, file.tz));
  }
  if (file.hasTime && device.dst != file.dst) {
    changes.push_back(Single("time.dst", {Kind::kTime, 1}, table::kDstRegister, device.dst, file.dst));
  }
  const bool fileKeepsPoll = file.settings[SettingIndex(table::kDiadRegister)] == 1;
  for (std::size_t i = 0; i < table::kDeviceSettings.size(); ++i) {
    const table::DeviceSetting& s = table::kDeviceSettings[i];
    // The device's own address is its identity.
    if (s.reg == table::kDiadRegister) continue;
    if (s.reg == table::kPollRegister && !(traits.keepsPoll && fileKeepsPoll)) continue;
    if (table::IsLongSetting(s.reg) && !traits.longSettings) continue;
    if (device.settings[i] == file.settings[i]) continue;
    changes.push_back(Single("settings." + std::string(s.key), {Kind::kSetting, i}, s.reg, device.settings[i],
                             file.settings[i]));
  }
  for (int d = 0; d < table::kDays; ++d) {
    const auto& had = device.schedule[static_cast<std::size_t>(d)];
    const auto& want = file.schedule[static_cast<std::size_t>(d)];
    const std::uint16_t start = table::ScheduleDayStart(d);
    const std::string day = "schedule." + DayName(d);
    if (had[0] != want[0]) {
      changes.push_back(Single(day + ".ena", {Kind::kSchedule, 0, d, 1}, start, had[0], want[0]));
    }
    const auto entry = [&](std::string name, std::size_t offset, std::string (*text)(const std::uint16_t*)) {
      if (std::equal(had.begin() + static_cast<std::ptrdiff_t>(offset),
                     had.begin() + static_cast<std::ptrdiff_t>(offset + 3),
                     want.begin() + static_cast<std::ptrdiff_t>(offset))) {
        return;
      }
      ConfigChange c;
      c.name = std::move(name);
      c.from = text(had.data() + offset);
      c.to = text(want.data() + offset);
      c.field = {Kind::kSchedule, offset, d, 3};
      c.write = {static_cast<std::uint16_t>(start + offset),
                 {want[offset], want[offset + 1], want[offset + 2]}};
      changes.push_back(std::move(c));
    };
    for (std::size_t i = 0; i < table::kPlanEntries; ++i) {
      // Rows are numbered from 1 as the Weekly schedule page numbers them
      // (the file's "plan" array counts from 0).
      entry(day + " plan row " + std::to_string(i + 1), table::kPlanOffset + 3 * i, PlanText);
    }
    for (std::size_t j = 0; j < table::kLengthEntries; ++j) {
      entry(day + " length row " + std::to_string(j + 1), table::kLengthOffset + 3 * j, LengthText);
    }
  }
  if (device.configStatus != file.configStatus) {
    ConfigChange c = Single("config_status.value", {Kind::kConfigStatus}, table::kRunConfigRegister,
                            device.configStatus, file.configStatus);
    // The status register takes only the run-configuration command.
    c.write.words = {table::kCommandWord};
    if (file.configStatus == 0) {
      c.writable = false;
      c.note = "only factory defaults return a device to status 0";
    } else {
      c.to += " (Apply configuration)";
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

std::size_t RestoreReport::Count(ChangeOutcome outcome) const {
  return static_cast<std::size_t>(std::count_if(
      changes.begin(), changes.end(), [outcome](const ChangeResult& r) { return r.outcome == outcome; }));
}

std::size_t RestoreReport::Verified() const {
  return static_cast<std::size_t>(
      std::count_if(changes.begin(), changes.end(), [](const ChangeResult& r) { return r.verified; }));
}

bool RestoreReport::Ok() const {
  if (!error.empty() || !refused.empty()) return false;
  if (dryRun) return true;
  return stopped.empty() && verifyError.empty() &&
         std::all_of(changes.begin(), changes.end(),
                     [](const ChangeResult& r) { return r.verified || !r.change.writable; });
}

RestoreReport RestoreDevice(TKtrDevice& device, const DeviceConfiguration& file,
                            const RestoreOptions& options) {
  RestoreReport report;
  report.address = device.Settings().slaveAddress;
  report.dryRun = options.dryRun;

  const BackupResult now = BackupDevice(device);
  report.firmware = now.configuration.firmware;
  report.firmwareVersion = now.configuration.firmwareVersion;
  if (!now.error.empty()) {
    report.error = now.error;
    return report;
  }
  if (!options.force && (now.configuration.firmware != file.firmware ||
                         now.configuration.firmwareVersion != file.firmwareVersion)) {
    report.refused = "firmware \"" + now.configuration.firmware + "\" " +
                     VersionText(report.firmwareVersion) + ", the file's is \"" + file.firmware + "\" " +
                     VersionText(file.firmwareVersion) + " (--force writes anyway)";
    return report;
  }

  DeviceTraits traits;
  traits.keepsPoll =
      report.address == 1 && now.configuration.settings[SettingIndex(table::kDiadRegister)] == 1;
  traits.longSettings = report.firmwareVersion >= table::kLongSettingsFirmware;
  for (ConfigChange& change : Differences(now.configuration, file, traits)) {
    report.changes.push_back({std::move(change), ChangeOutcome::kNotWritten, 0, false});
  }
  if (options.differences) options.differences(report);
  if (options.dryRun) return report;

  // Only what can be written; each change is written once, and the first
  // write the device does not answer ends the device's writes.
  std::vector<std::size_t> order;
  std::vector<TKtrDevice::RegisterWrite> writes;
  for (std::size_t i = 0; i < report.changes.size(); ++i) {
    if (!report.changes[i].change.writable) continue;
    order.push_back(i);
    writes.push_back(report.changes[i].change.write);
  }
  if (writes.empty()) return report;
  const bool opened = device.WriteRegisters(writes, [&](std::size_t k, std::int32_t r) {
    ChangeResult& result = report.changes[order[k]];
    result.code = r;
    if (r == result::kOk) {
      result.outcome = ChangeOutcome::kWritten;
    } else if (result::IsException(r)) {
      result.outcome = ChangeOutcome::kRefused;  // the device answered: the others may go on
    } else {
      result.outcome = ChangeOutcome::kFailed;
      report.stopped = result.change.name + ": " + std::to_string(r) + " " + ResultText(r);
    }
    if (options.progress) options.progress(k + 1, writes.size());
    return result.outcome != ChangeOutcome::kFailed;
  });
  if (!opened) {
    report.stopped = "the port could not be opened";
    return report;
  }
  if (!report.stopped.empty()) return report;  // a silent device is not read again

  DeviceConfiguration back = now.configuration;
  report.verifyError = device.ReadConfigurationBlocks(BlocksOf(report.changes), back);
  if (!report.verifyError.empty()) return report;
  for (ChangeResult& r : report.changes) {
    if (r.outcome != ChangeOutcome::kWritten) continue;
    r.verified = FieldWords(back, r.change.field) == FieldWords(file, r.change.field);
  }
  return report;
}

}  // namespace ktr
