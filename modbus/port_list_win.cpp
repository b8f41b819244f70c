// Serial ports on Windows, from the registry: the key
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM holds one value per port
// whose name is the driver's device ("\Device\Serial0", "\Device\VCP0") and
// whose data is the port's name ("COM3"). The key is rebuilt at every boot
// and while adapters come and go, so it is read each time the list is shown.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "port_list.h"

namespace ktr {
namespace {

constexpr DWORD kValueNameRoom = 260;  // characters
constexpr DWORD kValueDataRoom = 256;  // bytes: "COM256" and much more

// An open registry key, closed when it goes.
class RegistryKey {
 public:
  RegistryKey(HKEY root, const std::wstring& path) {
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// "HKEY_LOCAL_MACHINE\..." or "HKEY_CURRENT_USER\..." into the root key and
// the path below it; false for any other root.
bool SplitKeyName(const std::string& name, HKEY& root, std::wstring& path) {
  static const struct {
    std::string_view prefix;
    HKEY root;
  } kRoots[] = {{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};
  for (const auto& r : kRoots) {
    if (name.size() > r.prefix.size() && name.compare(0, r.prefix.size(), r.prefix) == 0) {
      root = r.root;
      // Key names are plain ASCII here; each byte is one character.
      path.assign(name.begin() + static_cast<std::ptrdiff_t>(r.prefix.size()), name.end());
      return true;
    }
  }
  return false;
}

// The data of every text value of the key, in the registry's order. A value
// that cannot be read (data longer than the room given) is skipped.
std::vector<std::wstring> ValueData(HKEY key) {
  std::vector<std::wstring> data;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return data;
  }
  for (DWORD index = 0; index < values; ++index) {
    wchar_t name[kValueNameRoom];
    DWORD nameLength = kValueNameRoom;
    // Aligned for wchar_t: the data of a REG_SZ value is UTF-16.
    alignas(wchar_t) BYTE bytes[kValueDataRoom];
    DWORD byteCount = kValueDataRoom;
    DWORD type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, bytes, &byteCount) != ERROR_SUCCESS ||
        type != REG_SZ) {
      continue;
    }
    // The stored text need not end with a null character, and may end with
    // more than one.
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes), byteCount / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    data.push_back(std::move(text));
  }
  return data;
}

}  // namespace

std::string DefaultPortSource() { return "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"; }

std::vector<std::string> SystemPortNames(const std::string& source) {
  HKEY root = nullptr;
  std::wstring path;
  if (!SplitKeyName(source, root, path)) return {};
  const RegistryKey key(root, path);
  if (key.get() == nullptr) return {};
  return PortNamesFromRegistryData(ValueData(key.get()));
}

std::string DefaultByIdFolder() { return {}; }

// The registry list holds names only.
std::vector<PortEntry> SystemPorts(const std::string& source, const std::string& /*byIdFolder*/) {
  std::vector<PortEntry> ports;
  for (std::string& name : SystemPortNames(source)) ports.push_back({std::move(name), {}});
  return ports;
}

PortDetails DescribePort(const std::string& portName, const std::string&, const std::string&,
                         const std::string&) {
  PortDetails details;
  details.device = portName;
  return details;
}

}  // namespace ktr
