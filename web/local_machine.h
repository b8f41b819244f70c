// This machine's own addresses and name, as the request guard needs them;
// one source file per platform (local_machine_posix.cpp,
// local_machine_win.cpp). Addresses are compared as their bytes: 4 for
// IPv4, 16 for IPv6, in network order.
#pragma once

#include <string>
#include <vector>

namespace ktr::local_machine {

// The bytes of the numeric address `text` ("192.168.1.5", "fe80::1"); empty
// when the text is no numeric IPv4 or IPv6 address.
std::string AddressBytes(const std::string& text);

// The addresses of the machine's network interfaces, loopback included.
// Looked up on each call: addresses change with the network. Empty when the
// system cannot tell.
std::vector<std::string> InterfaceAddresses();

// The machine's own host name as the system reports it; empty when unknown.
std::string HostName();

}  // namespace ktr::local_machine
