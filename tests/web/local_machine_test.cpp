// This machine's addresses and name as the system reports them, and the
// request guard's judgement of them; the same checks on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "local_machine.h"
#include "request_guard.h"

namespace {

namespace lm = ktr::local_machine;

struct AddressCase {
  const char* text;
  std::string bytes;  // empty: no numeric address
  friend void PrintTo(const AddressCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class AddressBytesTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressBytesTest, NumericAddressesOnly) {
  EXPECT_EQ(lm::AddressBytes(GetParam().text), GetParam().bytes) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressBytesTest,
                         ::testing::Values(AddressCase{"127.0.0.1", std::string("\x7F\x00\x00\x01", 4)},
                                           AddressCase{"192.168.10.200", std::string("\xC0\xA8\x0A\xC8", 4)},
                                           AddressCase{"::1", std::string(15, '\0') + '\1'},
                                           AddressCase{"fe80::a:1", std::string("\xFE\x80", 2) +
                                                                        std::string(10, '\0') +
                                                                        std::string("\x00\x0A\x00\x01", 4)},
                                           AddressCase{"localhost", ""}, AddressCase{"1.2.3", ""},
                                           AddressCase{"256.1.1.1", ""}, AddressCase{"1.2.3.4.5", ""},
                                           AddressCase{"[::1]", ""}, AddressCase{"", ""}));

// The loopback interface is always there, and every address is IPv4 or IPv6.
TEST(LocalMachine, InterfacesIncludeLoopback) {
  const std::vector<std::string> own = lm::InterfaceAddresses();
  EXPECT_NE(std::find(own.begin(), own.end(), lm::AddressBytes("127.0.0.1")), own.end());
  for (const std::string& bytes : own) {
    EXPECT_TRUE(bytes.size() == 4 || bytes.size() == 16) << bytes.size();
  }
}

TEST(LocalMachine, OwnNameIsThisMachine) {
  const std::string name = lm::HostName();
  ASSERT_FALSE(name.empty());
  EXPECT_TRUE(ktr::RequestGuard::IsThisMachine(name));
  EXPECT_TRUE(ktr::RequestGuard::IsThisMachine(name + ":8080"));
  EXPECT_FALSE(ktr::RequestGuard::IsThisMachine(name + ".evil.example"));
}

struct HostCase {
  const char* host;
  bool local;
  friend void PrintTo(const HostCase& c, std::ostream* os) { *os << c.host; }
};

class ThisMachineTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(ThisMachineTest, LoopbackAndNamesButNoOtherHost) {
  EXPECT_EQ(ktr::RequestGuard::IsThisMachine(GetParam().host), GetParam().local) << GetParam().host;
}

INSTANTIATE_TEST_SUITE_P(Cases, ThisMachineTest,
                         ::testing::Values(HostCase{"localhost", true}, HostCase{"127.0.0.1:80", true},
                                           HostCase{"127.9.9.9", true}, HostCase{"[::1]:8080", true},
                                           HostCase{"app.localhost", true}, HostCase{"8.8.8.8", false},
                                           HostCase{"[2001:db8::1]", false}, HostCase{"evil.example", false},
                                           HostCase{"localhost.evil.example", false}));

}  // namespace
