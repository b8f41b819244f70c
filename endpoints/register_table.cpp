#include "register_table.h"

#include <cstdio>
#include <tuple>

namespace ktr::table {
namespace {

// Checks of the table, at compile time: a row added or changed by mistake
// fails the build instead of reading into another block's place.

constexpr std::array<BlockRead, 11> kNamedBlocks{
    kSensorsBlock,      kAbsoluteHumidityBlock, kDisplayBlock,    kClockBlock,
    kCounterBlock,      kSettingsBlock,         kBrightnessBlock, kPollBlock,
    kConfigStatusBlock, kDeviceListCountBlock,  kDeviceListBlock,
};

constexpr bool Fits(const BlockRead& b) { return b.count > 0 && b.place + b.count <= kRegisterImageSize; }
constexpr bool Apart(const BlockRead& a, const BlockRead& b) {
  return a.place + a.count <= b.place || b.place + b.count <= a.place;
}

// The log line of a failed read starts with "Error read SET_" and the
// block's first register.
constexpr bool NamesItsStart(const BlockRead& b) {
  constexpr std::string_view prefix = "Error read SET_";
  if (!b.errorLine.starts_with(prefix)) return false;
  const std::string_view rest = b.errorLine.substr(prefix.size());
  std::uint32_t number = 0;
  std::size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
    number = number * 10 + static_cast<std::uint32_t>(rest[digits++] - '0');
  }
  return digits > 0 && number == b.start && digits < rest.size() &&
         (rest[digits] == '_' || rest[digits] == ' ');
}

constexpr bool BlocksAreSound() {
  std::array<BlockRead, kNamedBlocks.size() + kScheduleDayBlocks.size()> all{};
  std::size_t n = 0;
  for (const BlockRead& b : kNamedBlocks) all[n++] = b;
  for (const BlockRead& b : kScheduleDayBlocks) all[n++] = b;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!Fits(all[i]) || !NamesItsStart(all[i])) return false;
    for (std::size_t j = i + 1; j < all.size(); ++j) {
      if (!Apart(all[i], all[j])) return false;
    }
  }
  return true;
}
static_assert(BlocksAreSound(),
              "a block read does not fit the image, overlaps another or misnames its start");

// The days follow the schedule's geometry.
constexpr bool DaysFollowTheLayout() {
  for (int d = 0; d < kDays; ++d) {
    const BlockRead& b = kScheduleDayBlocks[static_cast<std::size_t>(d)];
    if (b.start != ScheduleDayStart(d) || b.count != kScheduleDayLength || b.place != place::ScheduleDay(d)) {
      return false;
    }
  }
  return kLengthOffset + 3 * kLengthEntries == kScheduleDayLength &&
         kPlanOffset + 3 * kPlanEntries == kLengthOffset;
}
static_assert(DaysFollowTheLayout(), "a schedule day's block does not follow the schedule's layout");

// A keyed block is read whole and converted by position: key i is
// register start + i.
template <std::size_t N>
constexpr bool InRegisterOrder(const std::array<KeyedRegister, N>& keys, const BlockRead& block) {
  if (keys.size() != block.count) return false;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].reg != block.start + i) return false;
  }
  return true;
}
static_assert(InRegisterOrder(kDisplay, kDisplayBlock) &&
                  kDisplay.size() == std::tuple_size_v<decltype(KTR_DATA::display)>,
              "the display keys are not the display block in register order");
static_assert(InRegisterOrder(kCounter, kCounterBlock) &&
                  kCounter.size() == std::tuple_size_v<decltype(KTR_DATA::counter)>,
              "the counter keys are not the counter block in register order");

// Each device setting is read by one of the settings reads, the two of the
// longer block at its end.
constexpr bool Within(std::uint16_t reg, const BlockRead& b) {
  return reg >= b.start && reg < b.start + b.count;
}
constexpr bool SettingsAreRead() {
  for (const DeviceSetting& s : kDeviceSettings) {
    if (!Within(s.reg, kSettingsBlock) && !Within(s.reg, kBrightnessBlock) && !Within(s.reg, kPollBlock))
      return false;
  }
  return kLongSettingsRegisters[0] == kSettingsBlock.start + kSettingsBlock.count - 2 &&
         kLongSettingsRegisters[1] == kSettingsBlock.start + kSettingsBlock.count - 1;
}
static_assert(SettingsAreRead(), "a device setting lies outside the settings reads");

}  // namespace

std::string ScheduleTimeText(std::uint16_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(word >> 8U),
                static_cast<unsigned>(word & 0xFFU));
  return text;
}

}  // namespace ktr::table
