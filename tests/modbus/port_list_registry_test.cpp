// The Windows port list read from a real registry key: a volatile key under
// HKEY_CURRENT_USER laid out as HARDWARE\DEVICEMAP\SERIALCOMM is (value name:
// the driver's device, value data: the port name), so that the test needs no
// administrator and leaves nothing behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_list.h"

namespace {

using Names = std::vector<std::string>;

class RegistryPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\KtrPortListTest-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  }

  // A text value; `withNull` false stores the text without its closing null.
  void Text(const wchar_t* name, const std::wstring& data, bool withNull = true) const {
    const DWORD bytes = static_cast<DWORD>((data.size() + (withNull ? 1 : 0)) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes),
              ERROR_SUCCESS);
  }

  std::string Source() const { return "HKEY_CURRENT_USER\\" + std::string(path_.begin(), path_.end()); }

  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryPortsTest, DataNotNamesInNumberOrder) {
  Text(L"\\Device\\Serial0", L"COM10");
  Text(L"\\Device\\Serial1", L"COM3");
  Text(L"\\Device\\VCP0", L"COM3");  // a second driver naming the same port
  Text(L"COM7", L"LPT1");            // the value's name does not count
  EXPECT_EQ(ktr::SystemPortNames(Source()), (Names{"COM3", "COM10"}));
}

TEST_F(RegistryPortsTest, TextWithoutClosingNullIsRead) {
  Text(L"\\Device\\Serial0", L"COM4", /*withNull=*/false);
  EXPECT_EQ(ktr::SystemPortNames(Source()), (Names{"COM4"}));
}

TEST_F(RegistryPortsTest, ValuesThatAreNoPortTextAreSkipped) {
  const DWORD number = 5;
  ASSERT_EQ(RegSetValueExW(key_, L"\\Device\\Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                           sizeof number),
            ERROR_SUCCESS);
  // More than the 256 bytes of room for the data: RegEnumValueW fails for
  // this value only, and the others are still listed.
  Text(L"\\Device\\Long", L"COM9" + std::wstring(200, L'9'));
  Text(L"\\Device\\Serial2", L"COM2");
  EXPECT_EQ(ktr::SystemPortNames(Source()), (Names{"COM2"}));
}

TEST_F(RegistryPortsTest, EmptyKeyGivesNoPorts) { EXPECT_TRUE(ktr::SystemPortNames(Source()).empty()); }

TEST(RegistrySource, MissingKeyOrUnknownRootGivesNoPorts) {
  EXPECT_TRUE(ktr::SystemPortNames("HKEY_CURRENT_USER\\Software\\KtrNoSuchKey\\SERIALCOMM").empty());
  EXPECT_TRUE(ktr::SystemPortNames("HKEY_USERS\\.DEFAULT").empty());
  EXPECT_TRUE(ktr::SystemPortNames("HARDWARE\\DEVICEMAP\\SERIALCOMM").empty());
  EXPECT_TRUE(ktr::SystemPortNames("").empty());
}

}  // namespace
