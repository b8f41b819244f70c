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
#include <vector>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
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

std::uint16_t Word(std::string_view value) { return static_cast<std::uint16_t>(FieldInteger(value)); }

// A setting held in one register whose value is kept in a number field.
struct NumberKey {
  std::string_view key;
  std::uint16_t reg;
};

// Group 1: display settings, kept in KTR_DATA::display in register order.
constexpr std::array<NumberKey, 6> kDisplayKeys{{
    {"tmpe", 10000}, {"dtpe", 10001}, {"cdpe", 10002}, {"s1pe", 10003}, {"s2pe", 10004}, {"stpe", 10005},
}};

// Group 3: counter settings, kept in KTR_DATA::counter in register order.
constexpr std::array<NumberKey, 7> kCounterKeys{{
    {"cdir", 10040}, {"lm_d", 10041}, {"lm_h", 10042}, {"lm_m", 10043},
    {"lm_s", 10044}, {"rlpe", 10045}, {"crpt", 10046},
}};

// Group 4: device settings, in the order in which they are asked.
struct DeviceKey {
  std::string_view key;
  std::uint16_t reg;
  std::uint32_t KTR_DATA::*field;
};
constexpr std::array<DeviceKey, 16> kDeviceKeys{{
    {"bmod", 10300, &KTR_DATA::bmod},
    {"blvl", 10301, &KTR_DATA::blvl},
    {"bloc", 10302, &KTR_DATA::bloc},
    {"bgra", 10303, &KTR_DATA::bgra},
    {"diad", 10060, &KTR_DATA::diad},
    {"poll", 10084, &KTR_DATA::poll},
    {"s1ad", 10061, &KTR_DATA::s1ad},
    {"s1un", 10062, &KTR_DATA::s1un},
    {"s1mo", 10063, &KTR_DATA::s1mo},
    {"s1rf", 10077, &KTR_DATA::s1rf},
    {"s2ad", 10068, &KTR_DATA::s2ad},
    {"s2un", 10069, &KTR_DATA::s2un},
    {"s2mo", 10070, &KTR_DATA::s2mo},
    {"s2rf", 10078, &KTR_DATA::s2rf},
    {"sype", 10075, &KTR_DATA::sype},
    {"stmo", 10076, &KTR_DATA::stmo},
}};

template <std::size_t N>
std::optional<SettingWrite> ArrayGroup(const std::array<NumberKey, N>& keys,
                                       std::uint32_t* (*slot)(KTR_DATA&, std::size_t),
                                       const std::string& key, const std::string& value) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (key != keys[i].key) continue;
    SettingWrite w;
    w.start = keys[i].reg;
    w.words = {Word(value)};
    w.store = [slot, i](KTR_DATA& data, const std::vector<std::uint16_t>& words) {
      *slot(data, i) = words[0];
    };
    return w;
  }
  return std::nullopt;
}

std::optional<SettingWrite> DisplayGroup(const std::string& key, const std::string& value) {
  return ArrayGroup(
      kDisplayKeys, [](KTR_DATA& d, std::size_t i) { return &d.display[i]; }, key, value);
}

std::optional<SettingWrite> CounterGroup(const std::string& key, const std::string& value) {
  return ArrayGroup(
      kCounterKeys, [](KTR_DATA& d, std::size_t i) { return &d.counter[i]; }, key, value);
}

// Group 2: date, time, time zone and daylight saving. The date and the time
// are cut at fixed character positions; the separators are never looked at.
std::optional<SettingWrite> DateTimeGroup(const std::string& key, const std::string& value) {
  SettingWrite w;
  if (key == "dt") {  // YYYY-MM-DD: the last two digits of the year, month, day
    w.start = 10020;
    w.words = {static_cast<std::uint16_t>(TwoDigitPiece(value, 3)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 6)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 9))};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) {
      SetDateTexts(d, words[0], words[1], words[2]);
    };
  } else if (key == "tm") {  // HH:MM:SS
    w.start = 10023;
    w.words = {static_cast<std::uint16_t>(TwoDigitPiece(value, 1)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 4)),
               static_cast<std::uint16_t>(TwoDigitPiece(value, 7))};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) {
      SetTimeTexts(d, words[0], words[1], words[2]);
    };
  } else if (key == "t_zone") {  // read back under "tz"
    w.start = 10026;
    w.words = {Word(value)};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) { d.tz = words[0]; };
  } else if (key == "dst") {
    w.start = 10027;
    w.words = {Word(value)};
    w.store = [](KTR_DATA& d, const std::vector<std::uint16_t>& words) { d.dst = words[0]; };
  } else {
    return std::nullopt;
  }
  return w;
}

std::optional<SettingWrite> DeviceGroup(const std::string& key, const std::string& value) {
  for (const DeviceKey& k : kDeviceKeys) {
    if (key != k.key) continue;
    SettingWrite w;
    w.start = k.reg;
    w.words = {Word(value)};
    w.store = [field = k.field](KTR_DATA& d, const std::vector<std::uint16_t>& words) {
      d.*field = words[0];
    };
    w.addressList = key == "diad";
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
