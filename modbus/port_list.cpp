#include "port_list.h"

#include <array>
#include <cstddef>
#include <tuple>

namespace ktr {
namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 256;

// The port number of registry data "COMn", or 0 when it is none.
int ComPortNumber(const std::wstring& data) {
  if (data.size() <= 3 || data.compare(0, 3, L"COM") != 0) return 0;
  int number = 0;
  for (std::size_t i = 3; i < data.size(); ++i) {
    const wchar_t c = data[i];
    if (c < L'0' || c > L'9') return 0;
    number = number * 10 + static_cast<int>(c - L'0');
    if (number > kLastPort) return 0;
  }
  return number;
}

// Splits "ttyUSB10" into "ttyUSB" and 10 (-1 when there is no trailing
// number), so that names compare by prefix first and number second.
std::tuple<std::string, long long, std::string> NaturalKey(const std::string& name) {
  std::size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  long long number = -1;
  // 18 digits fit a long long; longer runs of digits compare as text.
  if (digits < name.size() && name.size() - digits <= 18) number = std::stoll(name.substr(digits));
  return {name.substr(0, digits), number, name};
}

}  // namespace

std::vector<std::string> PortNamesFromRegistryData(const std::vector<std::wstring>& valueData) {
  std::array<bool, kLastPort + 1> present{};
  for (const std::wstring& data : valueData) {
    const int number = ComPortNumber(data);
    if (number >= kFirstPort) present[static_cast<std::size_t>(number)] = true;
  }
  std::vector<std::string> names;
  for (int number = kFirstPort; number <= kLastPort; ++number) {
    if (present[static_cast<std::size_t>(number)]) names.push_back("COM" + std::to_string(number));
  }
  return names;
}

bool NaturalPortLess(const std::string& a, const std::string& b) { return NaturalKey(a) < NaturalKey(b); }

}  // namespace ktr
