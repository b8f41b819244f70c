// The port list's rules that hold on every platform: registry data to port
// names, and the natural order of device names.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "port_list.h"

namespace {

using Names = std::vector<std::string>;

struct RegistryCase {
  const char* what;
  std::vector<std::wstring> data;
  Names ports;
  friend void PrintTo(const RegistryCase& c, std::ostream* os) { *os << c.what; }
};

class RegistryDataTest : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryDataTest, ListsEachPortOnceInNumberOrder) {
  EXPECT_EQ(ktr::PortNamesFromRegistryData(GetParam().data), GetParam().ports) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryDataTest,
    ::testing::Values(
        RegistryCase{"sorted by number, duplicates once", {L"COM10", L"COM3", L"COM3"}, {"COM3", "COM10"}},
        RegistryCase{"data that is no COM port", {L"LPT1", L"COM1", L"\\Device\\Serial0"}, {"COM1"}},
        RegistryCase{
            "ports 1 and 256 are the ends", {L"COM256", L"COM1", L"COM0", L"COM257"}, {"COM1", "COM256"}},
        RegistryCase{"not a number after COM",
                     {L"COM", L"COMx", L"COM12A", L"COM 5", L"com5", L"COM1234", L"COM-1"},
                     {}},
        RegistryCase{"no values", {}, {}}));

TEST(NaturalPortOrder, PrefixFirstThenNumber) {
  Names names{"ttyUSB10", "ttyUSB2", "ttyS0", "ttyACM1", "ttyUSB1", "ttyAMA0", "ttyS10", "ttyS9"};
  std::sort(names.begin(), names.end(), ktr::NaturalPortLess);
  EXPECT_EQ(names,
            (Names{"ttyACM1", "ttyAMA0", "ttyS0", "ttyS9", "ttyS10", "ttyUSB1", "ttyUSB2", "ttyUSB10"}));
}

TEST(NaturalPortOrder, LongDigitRunsCompareAsText) {
  // More digits than a 64-bit number holds must not throw.
  Names names{"tty1234567890123456789", "tty2", "tty"};
  std::sort(names.begin(), names.end(), ktr::NaturalPortLess);
  EXPECT_EQ(names.front(), "tty");
}

}  // namespace
