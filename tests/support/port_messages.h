// What the configurator logs when the port it is pointed at does not exist:
// the fixed line, then the system's reason with a hint.
#pragma once

#include <string>
#include <vector>

namespace ktr::test {

inline constexpr char kMissingPort[] = "/dev/ktr-no-such-port";

inline const std::vector<std::string> kMissingPortLog{
    "Error open port !!!",
    "open /dev/ktr-no-such-port: No such file or directory: the adapter is unplugged or the port has "
    "another name (ktr-cli ports lists them)"};

}  // namespace ktr::test
