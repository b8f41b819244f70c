#include "config_document.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <vector>

namespace ktr {
namespace {

using rapidjson::Value;

// --- writing -------------------------------------------------------------------

std::string Quoted(std::string_view text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

// {"a": 1, "b": 2} on one line.
class InlineObject {
 public:
  template <typename T>
  InlineObject& Add(std::string_view key, const T& value) {
    text_ += (text_.empty() ? "{" : ", ") + Quoted(key) + ": " + Text(value);
    return *this;
  }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  static std::string Text(std::uint16_t v) { return std::to_string(v); }
  static std::string Text(const std::string& v) { return Quoted(v); }
  std::string text_;
};

template <std::size_t N, typename Table>
std::string KeyedLine(const Table& keys, const std::array<std::uint16_t, N>& values) {
  InlineObject o;
  for (std::size_t i = 0; i < N; ++i) o.Add(keys[i].key, values[i]);
  return o.Done();
}

const std::uint16_t* PlanEntry(const std::array<std::uint16_t, table::kScheduleDayLength>& day,
                               std::size_t i) {
  return day.data() + table::kPlanOffset + 3 * i;
}
const std::uint16_t* LengthEntry(const std::array<std::uint16_t, table::kScheduleDayLength>& day,
                                 std::size_t j) {
  return day.data() + table::kLengthOffset + 3 * j;
}

// --- reading -------------------------------------------------------------------

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw ConfigFileError(path + ": " + reason);
}

std::string Join(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

// The value as it stands in the file, shortened, for messages.
std::string Shown(const Value& v) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  v.Accept(writer);
  std::string text(buffer.GetString(), buffer.GetSize());
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

const Value& Object(const Value& v, const std::string& path) {
  if (!v.IsObject()) Fail(path, Shown(v) + " is not an object");
  return v;
}

// Every member's name is one of `keys`, and none is given twice.
void OnlyKeys(const Value& object, const std::string& path, std::initializer_list<std::string_view> keys) {
  std::vector<std::string_view> seen;
  for (auto m = object.MemberBegin(); m != object.MemberEnd(); ++m) {
    const std::string_view name(m->name.GetString(), m->name.GetStringLength());
    bool known = false;
    for (std::string_view k : keys) known = known || k == name;
    if (!known) Fail(Join(path, name), "unknown key");
    for (std::string_view s : seen) {
      if (s == name) Fail(Join(path, name), "given twice");
    }
    seen.push_back(name);
  }
}

template <typename Table>
void OnlyTableKeys(const Value& object, const std::string& path, const Table& keys) {
  for (auto m = object.MemberBegin(); m != object.MemberEnd(); ++m) {
    const std::string_view name(m->name.GetString(), m->name.GetStringLength());
    std::size_t count = 0;
    for (const auto& k : keys) count += k.key == name ? 1U : 0U;
    if (count == 0) Fail(Join(path, name), "unknown key");
    std::size_t times = 0;
    for (auto n = object.MemberBegin(); n != object.MemberEnd(); ++n) {
      times += std::string_view(n->name.GetString(), n->name.GetStringLength()) == name ? 1U : 0U;
    }
    if (times > 1) Fail(Join(path, name), "given twice");
  }
}

const Value& Member(const Value& object, const std::string& path, std::string_view key) {
  const auto m = object.FindMember(Value(rapidjson::StringRef(key.data(), key.size())));
  if (m == object.MemberEnd()) Fail(Join(path, key), "missing");
  return m->value;
}

std::int64_t WholeNumber(const Value& v, const std::string& path, std::int64_t low, std::int64_t high) {
  if (!v.IsInt64()) {
    // Doubles (5.5, 1e3), numbers beyond 64 bits, texts, objects...
    if (v.IsUint64())
      Fail(path, Shown(v) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
    Fail(path, Shown(v) + " is not a whole number");
  }
  const std::int64_t n = v.GetInt64();
  if (n < low || n > high) {
    Fail(path, Shown(v) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
  }
  return n;
}

std::uint16_t Word(const Value& v, const std::string& path) {
  return static_cast<std::uint16_t>(WholeNumber(v, path, 0, 65535));
}

std::string Text(const Value& v, const std::string& path) {
  if (!v.IsString()) Fail(path, Shown(v) + " is not a text");
  return std::string(v.GetString(), v.GetStringLength());
}

// Digits only, 1 to 3 of them, value 0 to 255.
bool SmallNumber(std::string_view text, unsigned& value) {
  if (text.empty() || text.size() > 3) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 255;
}

// "HH:MM" as the schedule reply gives it: the hour in the high byte, the
// minute in the low byte.
std::uint16_t TimeWord(const Value& v, const std::string& path) {
  const std::string text = Text(v, path);
  const std::size_t colon = text.find(':');
  unsigned hour = 0, minute = 0;
  if (colon == std::string::npos || !SmallNumber(std::string_view(text).substr(0, colon), hour) ||
      !SmallNumber(std::string_view(text).substr(colon + 1), minute)) {
    Fail(path, Shown(v) + " is not a time HH:MM (hour and minute 0 to 255 each)");
  }
  return static_cast<std::uint16_t>(hour << 8U | minute);
}

const Value& Entries(const Value& object, const std::string& path, std::string_view key, std::size_t count) {
  const Value& v = Member(object, path, key);
  const std::string at = Join(path, key);
  if (!v.IsArray()) Fail(at, Shown(v) + " is not an array");
  if (v.Size() != count) {
    Fail(at, "has " + std::to_string(v.Size()) + " entries instead of " + std::to_string(count));
  }
  return v;
}

template <std::size_t N, typename Table>
std::array<std::uint16_t, N> KeyedWords(const Value& root, std::string_view section, const Table& keys) {
  const std::string path(section);
  const Value& object = Object(Member(root, "", section), path);
  std::array<std::uint16_t, N> words{};
  for (std::size_t i = 0; i < N; ++i)
    words[i] = Word(Member(object, path, keys[i].key), Join(path, keys[i].key));
  OnlyTableKeys(object, path, keys);
  return words;
}

std::array<std::uint16_t, table::kScheduleDayLength> ScheduleDay(const Value& schedule, int dayIndex) {
  const std::string_view name = table::kDayNames[static_cast<std::size_t>(dayIndex)];
  const std::string path = Join("schedule", name);
  const Value& day = Object(Member(schedule, "schedule", name), path);
  std::array<std::uint16_t, table::kScheduleDayLength> b{};
  b[0] = Word(Member(day, path, "ena"), Join(path, "ena"));

  const Value& plan = Entries(day, path, "plan", table::kPlanEntries);
  for (rapidjson::SizeType i = 0; i < plan.Size(); ++i) {
    const std::string at = path + ".plan[" + std::to_string(i) + "]";
    const Value& entry = Object(plan[i], at);
    std::uint16_t* w = b.data() + table::kPlanOffset + 3 * i;
    w[0] = Word(Member(entry, at, "status"), Join(at, "status"));
    w[1] = TimeWord(Member(entry, at, "time"), Join(at, "time"));
    w[2] = Word(Member(entry, at, "len"), Join(at, "len"));
    OnlyKeys(entry, at, {"status", "time", "len"});
  }
  const Value& cfg = Entries(day, path, "cfg", table::kLengthEntries);
  for (rapidjson::SizeType j = 0; j < cfg.Size(); ++j) {
    const std::string at = path + ".cfg[" + std::to_string(j) + "]";
    const Value& entry = Object(cfg[j], at);
    // On the device a length entry runs ws, bb, eb.
    std::uint16_t* w = b.data() + table::kLengthOffset + 3 * j;
    w[0] = Word(Member(entry, at, "len_ws"), Join(at, "len_ws"));
    w[1] = Word(Member(entry, at, "len_bb"), Join(at, "len_bb"));
    w[2] = Word(Member(entry, at, "len_eb"), Join(at, "len_eb"));
    OnlyKeys(entry, at, {"len_bb", "len_eb", "len_ws"});
  }
  OnlyKeys(day, path, {"ena", "plan", "cfg"});
  return b;
}

}  // namespace

std::string VersionText(std::uint32_t v) {
  return std::to_string((v >> 16U) & 0xFFU) + "." + std::to_string((v >> 8U) & 0xFFU) + "." +
         std::to_string(v & 0xFFU);
}

bool ParseVersionText(std::string_view text, std::uint32_t& packed) {
  std::uint32_t result = 0;
  for (int part = 0; part < 3; ++part) {
    const std::size_t dot = text.find('.');
    const std::string_view piece = part < 2 ? text.substr(0, dot) : text;
    if (part < 2 && dot == std::string_view::npos) return false;
    unsigned value = 0;
    if (!SmallNumber(piece, value)) return false;
    result = result << 8U | value;
    if (part < 2) text.remove_prefix(dot + 1);
  }
  packed = result;
  return true;
}

std::size_t SettingIndex(std::uint16_t reg) {
  for (std::size_t i = 0; i < table::kDeviceSettings.size(); ++i) {
    if (table::kDeviceSettings[i].reg == reg) return i;
  }
  throw std::out_of_range("register " + std::to_string(reg) + " is no device setting");
}

std::string UtcTimestampNow() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto today = floor<days>(now);
  const year_month_day date{today};
  const hh_mm_ss time{now - today};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string ConfigurationJson(const DeviceConfiguration& c) {
  std::string out = "{\n";
  const auto line = [&out](std::string_view key, const std::string& value, bool last = false) {
    out += "  " + Quoted(key) + ": " + value + (last ? "\n" : ",\n");
  };
  line("format", Quoted(kConfigFormat));
  line("format_version", std::to_string(c.hasTime ? kConfigFormatVersion : kConfigFormatVersionWithoutTime));
  line("firmware", Quoted(c.firmware));
  line("firmware_version", Quoted(VersionText(c.firmwareVersion)));
  line("address", std::to_string(c.address));
  line("taken", Quoted(c.taken));
  line("display", KeyedLine(table::kDisplay, c.display));
  line("counter", KeyedLine(table::kCounter, c.counter));
  if (c.hasTime) line("time", InlineObject().Add("tz", c.tz).Add("dst", c.dst).Done());
  line("settings", KeyedLine(table::kDeviceSettings, c.settings));

  out += "  \"schedule\": {\n";
  for (int d = 0; d < table::kDays; ++d) {
    const auto& day = c.schedule[static_cast<std::size_t>(d)];
    out += "    " + Quoted(table::kDayNames[static_cast<std::size_t>(d)]) + ": {\n";
    out += "      \"ena\": " + std::to_string(day[0]) + ",\n      \"plan\": [\n";
    for (std::size_t i = 0; i < table::kPlanEntries; ++i) {
      const std::uint16_t* e = PlanEntry(day, i);
      out += "        " +
             InlineObject()
                 .Add("status", e[0])
                 .Add("time", table::ScheduleTimeText(e[1]))
                 .Add("len", e[2])
                 .Done() +
             (i + 1 < table::kPlanEntries ? ",\n" : "\n");
    }
    out += "      ],\n      \"cfg\": [\n";
    for (std::size_t j = 0; j < table::kLengthEntries; ++j) {
      const std::uint16_t* e = LengthEntry(day, j);
      out += "        " + InlineObject().Add("len_bb", e[1]).Add("len_eb", e[2]).Add("len_ws", e[0]).Done() +
             (j + 1 < table::kLengthEntries ? ",\n" : "\n");
    }
    out += "      ]\n    }" + std::string(d + 1 < table::kDays ? ",\n" : "\n");
  }
  out += "  },\n";
  line("config_status", InlineObject().Add("value", c.configStatus).Done(), true);
  out += "}\n";
  return out;
}

DeviceConfiguration ParseConfiguration(std::string_view text) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
  if (doc.HasParseError()) {
    throw ConfigFileError("not a JSON document (at byte " + std::to_string(doc.GetErrorOffset()) + ": " +
                          rapidjson::GetParseError_En(doc.GetParseError()) + ")");
  }
  if (!doc.IsObject()) throw ConfigFileError("not a configuration file: the document is no JSON object");

  // A file of another kind is told as such before anything else.
  const Value& root = doc;
  if (!root.HasMember("format")) Fail("format", "missing (not a configuration file)");
  const Value& format = root["format"];
  if (!format.IsString() || std::string_view(format.GetString(), format.GetStringLength()) != kConfigFormat) {
    Fail("format", Shown(format) + " is not \"" + std::string(kConfigFormat) + "\" (a file of another kind)");
  }
  const Value& version = Member(doc, "", "format_version");
  if (!version.IsInt() ||
      (version.GetInt() != kConfigFormatVersion && version.GetInt() != kConfigFormatVersionWithoutTime)) {
    Fail("format_version", Shown(version) + " is not supported (this program reads versions " +
                               std::to_string(kConfigFormatVersionWithoutTime) + " and " +
                               std::to_string(kConfigFormatVersion) + ")");
  }

  DeviceConfiguration c;
  c.hasTime = version.GetInt() == kConfigFormatVersion;
  c.firmware = Text(Member(doc, "", "firmware"), "firmware");
  const Value& fwVersion = Member(doc, "", "firmware_version");
  if (!fwVersion.IsString() || !ParseVersionText(fwVersion.GetString(), c.firmwareVersion)) {
    Fail("firmware_version", Shown(fwVersion) + " is not a version MAJOR.MINOR.PATCH (0 to 255 each)");
  }
  c.address = static_cast<int>(WholeNumber(Member(doc, "", "address"), "address", 1, 247));
  c.taken = Text(Member(doc, "", "taken"), "taken");
  c.display = KeyedWords<table::kDisplay.size()>(doc, "display", table::kDisplay);
  c.counter = KeyedWords<table::kCounter.size()>(doc, "counter", table::kCounter);
  c.settings = KeyedWords<table::kDeviceSettings.size()>(doc, "settings", table::kDeviceSettings);

  if (c.hasTime) {
    const Value& time = Object(Member(doc, "", "time"), "time");
    c.tz = Word(Member(time, "time", "tz"), "time.tz");
    c.dst = Word(Member(time, "time", "dst"), "time.dst");
    OnlyKeys(time, "time", {"tz", "dst"});
  }

  const Value& schedule = Object(Member(doc, "", "schedule"), "schedule");
  for (int d = 0; d < table::kDays; ++d) c.schedule[static_cast<std::size_t>(d)] = ScheduleDay(schedule, d);
  OnlyKeys(schedule, "schedule", {"sun", "mon", "tue", "wed", "thu", "fri", "sat"});

  const Value& status = Object(Member(doc, "", "config_status"), "config_status");
  c.configStatus = Word(Member(status, "config_status", "value"), "config_status.value");
  OnlyKeys(status, "config_status", {"value"});

  if (c.hasTime) {
    OnlyKeys(doc, "",
             {"format", "format_version", "firmware", "firmware_version", "address", "taken", "display",
              "counter", "time", "settings", "schedule", "config_status"});
  } else {
    OnlyKeys(doc, "",
             {"format", "format_version", "firmware", "firmware_version", "address", "taken", "display",
              "counter", "settings", "schedule", "config_status"});
  }
  return c;
}

}  // namespace ktr
