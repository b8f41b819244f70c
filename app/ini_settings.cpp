#include "ini_settings.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "ini_file.h"

namespace ktr::app {
namespace {

const std::string kSection = "PC";

// One integer key with its default and the range its field holds.
struct IntegerKey {
  const char* name;
  int fallback;
  int minimum;
  int maximum;
};

std::string_view Trimmed(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

int ReadInteger(const std::string& path, const IntegerKey& key) {
  const std::optional<std::string> value = ReadIniValue(path, kSection, key.name);
  if (!value) return key.fallback;
  const std::string_view text = Trimmed(*value);
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  long long number = 0;
  const auto [end, error] = std::from_chars(first, last, number);
  if (first == last || error != std::errc() || end != last || number < key.minimum || number > key.maximum) {
    return key.fallback;
  }
  return static_cast<int>(number);
}

std::string WriteFailure(const std::string& path) { return "Unable to write to " + path; }

// Settings saved for the first time: the folder is made, as a desktop
// program's configuration folder is. A folder that cannot be made shows as
// the write's failure.
void MakeFolder(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path folder =
      std::filesystem::path(reinterpret_cast<const char8_t*>(path.c_str())).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
}

}  // namespace

void LoadIniSettings(const std::string& path, SerialSettings& settings) {
  settings.baudRate = ReadInteger(path, {"Baud", 19200, 1, std::numeric_limits<int>::max()});
  settings.parity = static_cast<std::uint8_t>(ReadInteger(path, {"Parity", 2, 0, 255}));
  settings.stopBits = static_cast<std::uint8_t>(ReadInteger(path, {"StopBits", 0, 0, 255}));
  settings.dataBits = static_cast<std::uint8_t>(ReadInteger(path, {"Size", 8, 0, 255}));
  settings.rs485 = ReadInteger(path, {"RS485", 0, 0, 1}) == 1;
}

std::string SaveIniSettings(const std::string& path, const SerialSettings& settings) {
  const std::array<std::pair<const char*, int>, 5> keys{{
      {"Baud", settings.baudRate},
      {"Parity", settings.parity},
      {"StopBits", settings.stopBits},
      {"Size", settings.dataBits},
      {"RS485", settings.rs485 ? 1 : 0},
  }};
  MakeFolder(path);
  for (const auto& [name, value] : keys) {
    if (!WriteIniValue(path, kSection, name, std::to_string(value))) return WriteFailure(path);
  }
  return {};
}

std::string LoadIniPort(const std::string& path) {
  return std::string(Trimmed(ReadIniValue(path, kSection, "Port").value_or(std::string())));
}

std::string SaveIniPort(const std::string& path, const std::string& port) {
  MakeFolder(path);
  if (!WriteIniValue(path, kSection, "Port", port)) return WriteFailure(path);
  return {};
}

}  // namespace ktr::app
