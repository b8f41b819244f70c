// /setdata.cgi: one setting per request, taken from the first field of the
// parameter text and written to its register. The keys are those under which
// the read endpoints report the registers, except the date ("dt"), the time
// ("tm") and the time zone ("t_zone").
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"
#include "request_fields.h"

namespace ktr {
namespace {

// The one write a setting makes: a single register (function 6), or the
// three registers of a date or a time (function 16). `store` records the
// written words in the device data, as the next read would convert them.
struct SettingWrite {
  std::uint16_t start = 0;
  std::vector<std::uint16_t> words;
  std::function<void(KTR_DATA&, const std::vector<std::uint16_t>&)> store;
  bool addressList = false;  // "diad": the window's address list follows
};

using table::KeyedRegister;

template <std::size_t N>
std::optional<SettingWrite> ArrayGroup(const std::array<KeyedRegister, N>& keys,
                                       std::uint32_t* (*slot)(KTR_DATA&, std::size_t), const std::string& key,
                                       const std::string& value) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (key != keys[i].key) continue;
    SettingWrite w;
    w.start = keys[i].reg;
    w.words = {FieldWord(value)};
    w.store = [slot, i](KTR_DATA& data, const std::vector<std::uint16_t>& words) {
      *slot(data, i) = words[0];
    };
    return w;
  }
  return std::nullopt;
}

// Group 1: display settings, kept in KTR_DATA::display in register order.
std::optional<SettingWrite> DisplayGroup(const std::string& key, const std::string& value) {
  return ArrayGroup(
      table::kDisplay, [](KTR_DATA& d, std::size_t i) { return &d.display[i]; }, key, value);
}

// Group 3: counter settings, kept in KTR_DATA::counter in register order.
std::optional<SettingWrite> CounterGroup(const std::string& key, const std::string& value) {
  return ArrayGroup(
      table::kCounter, [](KTR_DATA& d, std::size_t i) { return &d.counter[i]; }, key, value);
}

// Group 2: date, time, time zone and daylight saving. The date and the time
// are cut at fixed character positions; the separators are never looked at.
std::optional<SettingWrite> DateTimeGroup(const std::string& key, const std::string& value) {
  SettingWrite w;
  if (key == "dt") {  // YYYY-MM-DD: the last two digits of the year, month, day
    w.start = table::kDateRegister;
    w.words = {static_cast<std::uint16_t>(TwoDigitPiece(value, 3)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 6)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 9))};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) {
      SetDateTexts(d, words[0], words[1], words[2]);
    };
  } else if (key == "tm") {  // HH:MM:SS
    w.start = table::kTimeRegister;
    w.words = {static_cast<std::uint16_t>(TwoDigitPiece(value, 1)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 4)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 7))};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) {
      SetTimeTexts(d, words[0], words[1], words[2]);
    };
  } else if (key == "t_zone") {  // read back under "tz"
    w.start = table::kTimeZoneRegister;
    w.words = {FieldWord(value)};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) { d.tz = words[0]; };
  } else if (key == "dst") {
    w.start = table::kDstRegister;
    w.words = {FieldWord(value)};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) { d.dst = words[0]; };
  } else {
    return std::nullopt;
  }
  return w;
}

// Group 4: device settings. The keys are distinct, so the order in which
// they are asked does not matter.
std::optional<SettingWrite> DeviceGroup(const std::string& key, const std::string& value) {
  for (const table::DeviceSetting& k : table::kDeviceSettings) {
    if (key != k.key) continue;
    SettingWrite w;
    w.start = k.reg;
    w.words = {FieldWord(value)};
    w.store = [field = k.field](KTR_DATA& d, const std::vector<std::uint16_t>& words) {
      d.*field = words[0];
    };
    w.addressList = k.reg == table::kDiadRegister;
    return w;
  }
  return std::nullopt;
}

}  // namespace

std::string TKtrDevice::SetData(const std::string& parameters) {
  // Only the first field counts; whatever follows its "&" is ignored.
  const std::string key = FieldKey(parameters, 0);
  const std::string value = FieldValue(parameters, key.size() + 1);

  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};

  // The group that knows the key converts the whole value before anything is
  // sent, so a bad value (a FieldConversionError) writes nothing.
  std::optional<SettingWrite> write;
  for (auto* group : {&DisplayGroup, &DateTimeGroup, &CounterGroup, &DeviceGroup}) {
    write = group(key, value);
    if (write) break;
  }

  if (write) {
    // The write's result is not reported: the page shows "yes" either way.
    std::ignore =
        cycle.Write(write->start, write->words.data(), static_cast<std::uint16_t>(write->words.size()));
  }
  cycle.Close();

  if (write) {
    write->store(KtrData, write->words);
    // The device answers on its new address from now on; the window offers
    // it, while SerialSettings keeps addressing the device that the search
    // found.
    if (write->addressList) ReplaceAddressList({std::to_string(write->words[0])});
  }
  return AnswerReply("yes");
}

}  // namespace ktr
