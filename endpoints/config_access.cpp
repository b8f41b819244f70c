// The block reads and the register writes of configuration files (backup,
// restore): the read endpoints' block reads and converters, and the write
// endpoints' requests, several in one access cycle.
#include <algorithm>
#include <string>

#include "access_cycle.h"
#include "config_document.h"
#include "converters.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

TKtrDevice::ConfigBlocks TKtrDevice::ConfigBlocks::All() {
  ConfigBlocks all;
  all.display = all.counter = all.settings = all.configStatus = all.time = true;
  all.days.fill(true);
  return all;
}

std::string TKtrDevice::ReadConfigurationBlocks(const ConfigBlocks& blocks, DeviceConfiguration& into) {
  // The failures are gathered as for a reply's device status (this thread
  // builds no reply meanwhile).
  BeginDeviceStatus();
  {
    AccessCycle cycle(*this);
    if (cycle.opened()) {
      bool first = true;
      const auto next = [&first] {
        if (!first) AccessCycle::Pause();
        first = false;
      };
      const auto read = [&](const table::BlockRead& b) {
        next();
        cycle.Read(b);
      };
      if (blocks.display) read(table::kDisplayBlock);
      if (blocks.counter) read(table::kCounterBlock);
      if (blocks.time) read(table::kClockBlock);
      if (blocks.settings) {
        next();
        ReadSettingsCycle();  // the configuration status among them
      } else if (blocks.configStatus) {
        read(table::kConfigStatusBlock);
      }
      for (int d = 0; d < table::kDays; ++d) {
        if (!blocks.days[static_cast<std::size_t>(d)]) continue;
        next();
        ReadScheduleDay(d);
      }
      cycle.Close();

      ConvertDisplayData(RegisterImage, KtrData);
      ConvertCounterData(RegisterImage, KtrData);
      if (blocks.time) {
        ConvertDateTime(RegisterImage, KtrData);
        into.tz = static_cast<std::uint16_t>(KtrData.tz);
        into.dst = static_cast<std::uint16_t>(KtrData.dst);
      }
      ConvertSettingsAndList();
      for (int d = 0; d < table::kDays; ++d) {
        const auto day = static_cast<std::size_t>(d);
        if (blocks.days[day]) ConvertScheduleDay(RegisterImage, d, SchedulerData[day]);
      }
      // From the image and the converted data, as the replies give them.
      for (std::size_t i = 0; i < into.display.size(); ++i) {
        if (blocks.display) into.display[i] = static_cast<std::uint16_t>(KtrData.display[i]);
      }
      for (std::size_t i = 0; i < into.counter.size(); ++i) {
        if (blocks.counter) into.counter[i] = static_cast<std::uint16_t>(KtrData.counter[i]);
      }
      if (blocks.settings) {
        for (std::size_t i = 0; i < table::kDeviceSettings.size(); ++i) {
          into.settings[i] = static_cast<std::uint16_t>(KtrData.*table::kDeviceSettings[i].field);
        }
      }
      if (blocks.settings || blocks.configStatus) {
        into.configStatus = RegisterImage[place::kConfigStatus];
      }
      for (int d = 0; d < table::kDays; ++d) {
        if (!blocks.days[static_cast<std::size_t>(d)]) continue;
        const table::BlockRead& day = table::kScheduleDayBlocks[static_cast<std::size_t>(d)];
        const std::uint16_t* b = RegisterImage.data() + day.place;
        std::copy(b, b + day.count, into.schedule[static_cast<std::size_t>(d)].begin());
      }
    }
  }
  const std::string status = TakeDeviceStatus();
  return status == "ok" ? std::string() : status;
}

bool TKtrDevice::WriteRegisters(const std::vector<RegisterWrite>& writes,
                                const std::function<bool(std::size_t index, std::int32_t result)>& after) {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return false;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (i > 0) AccessCycle::Pause();
    const RegisterWrite& w = writes[i];
    const std::int32_t r = cycle.Write(w.start, w.words.data(), static_cast<std::uint16_t>(w.words.size()));
    if (after && !after(i, r)) break;
  }
  cycle.Close();
  return true;
}

}  // namespace ktr
