// /set_sched_data.cgi: one write into a weekday's schedule block, either the
// day's enable word, one plan entry (status, time, length) or one length
// entry (ws, bb, eb).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"
#include "request_fields.h"

namespace ktr {
namespace {

// "HH:MM": hour in the high byte, minute in the low byte; an empty time is
// stored as kNoTime.
std::uint16_t TimeWord(std::string_view value) {
  if (value.empty()) return table::kNoTime;
  const std::int32_t hour = TwoDigitPiece(value, 1);
  const std::int32_t minute = TwoDigitPiece(value, 4);
  return static_cast<std::uint16_t>(hour * 256 + minute);
}

// What one request asks for, collected by walking all of its fields. Each
// kind keeps the words that its own keys gave; the last entry key decides
// which kind is written.
struct ScheduleRequest {
  enum class Kind { kNone, kEnable, kPlan, kLength };

  Kind kind = Kind::kNone;
  std::int32_t block = table::kScheduleBase;  // Sunday's block
  std::optional<std::int32_t> index;
  std::uint16_t enable = 0;
  std::array<std::optional<std::uint16_t>, 3> plan;    // status, time, length
  std::array<std::optional<std::uint16_t>, 3> length;  // ws, bb, eb

  // Converts the value at once, so a bad value stops the request before
  // anything is written.
  void Take(const std::string& key, const std::string& value) {
    if (key == "day") {
      for (std::size_t d = 0; d < table::kDayNames.size(); ++d) {
        // Each "day" field adds its day's offset once more; an address
        // beyond Saturday's block is refused before writing.
        if (value == table::kDayNames[d]) block += table::kScheduleDayStride * static_cast<std::int32_t>(d);
      }
    } else if (key == "idx") {
      index = FieldInteger(value);
    } else if (key == "ena") {
      kind = Kind::kEnable;
      enable = FieldWord(value);
    } else if (key == "tp_status") {
      kind = Kind::kPlan;
      plan[0] = FieldWord(value);
    } else if (key == "tp_time") {
      kind = Kind::kPlan;
      plan[1] = TimeWord(value);
    } else if (key == "tp_len") {
      kind = Kind::kPlan;
      plan[2] = FieldWord(value);
    } else if (key == "s_len_ws") {
      kind = Kind::kLength;
      length[0] = FieldWord(value);
    } else if (key == "s_len_bb") {
      kind = Kind::kLength;
      length[1] = FieldWord(value);
    } else if (key == "s_len_eb") {
      kind = Kind::kLength;
      length[2] = FieldWord(value);
    }
  }
};

// The three words of an entry write, or nothing when the request leaves one
// of them undefined.
std::optional<std::array<std::uint16_t, 3>> EntryWords(
    const std::array<std::optional<std::uint16_t>, 3>& given) {
  if (!given[0] || !given[1] || !given[2]) return std::nullopt;
  return std::array<std::uint16_t, 3>{*given[0], *given[1], *given[2]};
}

}  // namespace

std::string TKtrDevice::SetSchedData(const std::string& parameters) {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};

  ScheduleRequest request;
  ForEachField(parameters,
               [&request](const std::string& key, const std::string& value) { request.Take(key, value); });

  using Kind = ScheduleRequest::Kind;
  if (request.kind == Kind::kNone) {
    cycle.Close();
    return AnswerReply("yes");
  }
  // Repeated "day" fields can push the address past Saturday's block, into
  // registers that are no schedule at all: refuse rather than write there.
  if (request.block > table::ScheduleDayStart(table::kDays - 1)) {
    cycle.Close();
    return AnswerReply("no");
  }
  const auto block = static_cast<std::uint16_t>(request.block);

  if (request.kind == Kind::kEnable) {
    std::ignore = cycle.Write(block, &request.enable, 1);  // the page gets "yes" either way
    cycle.Close();
    return AnswerReply("yes");
  }

  const bool plan = request.kind == Kind::kPlan;
  const auto entries = static_cast<std::int32_t>(plan ? table::kPlanEntries : table::kLengthEntries);
  std::optional<std::array<std::uint16_t, 3>> words;
  if (plan) {
    auto given = request.plan;
    // An entry switched off (status 0) is stored with time 0 and length 1,
    // whatever the request gave for them.
    if (given[0] && *given[0] == 0) {
      given[1] = 0;
      given[2] = 1;
    }
    words = EntryWords(given);
  } else {
    words = EntryWords(request.length);
  }
  // Without an index inside the entry zone, or without all three words, the
  // write would reach a neighbouring entry or carry undefined values.
  if (!request.index || *request.index < 0 || *request.index >= entries || !words) {
    cycle.Close();
    return AnswerReply("no");
  }
  // + 3 * entry: status, time, length or ws, bb, eb.
  const auto offset = static_cast<std::int32_t>(plan ? table::kPlanOffset : table::kLengthOffset);
  const auto start = static_cast<std::uint16_t>(request.block + offset + 3 * *request.index);
  std::ignore = cycle.Write(start, words->data(), 3);  // the page gets "yes" either way
  cycle.Close();
  return AnswerReply("yes");
}

}  // namespace ktr
