// The device endpoints as the fault tests call them: how to request each one
// over HTTP, how many Modbus requests its cycle makes at most (for the time
// bound), the log lines it writes when every read fails, and the request
// frames it must put on the line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "fault_bus.h"

namespace ktr::test {

struct EndpointCase {
  std::string name;    // also the test name suffix
  std::string method;  // "GET" or "POST"
  std::string target;  // path, with the query of a GET
  std::string body;    // form body of a POST
  // The most Modbus requests one cycle makes (device at bus address 1 whose
  // list count is not 0), for the time bound.
  int deviceRequests = 1;
  // Log lines when every read of the cycle fails, in order.
  std::vector<std::string> readErrorLines;
  // The write frame (slave 1) a write endpoint sends; empty for reads.
  Bytes writeFrame;
  // The read frames (slave 1) of one cycle of a read endpoint, in order,
  // once the image holds the default device's values (the list count 3).
  std::vector<Bytes> readFrames;
};

inline void PrintTo(const EndpointCase& endpoint, std::ostream* out) { *out << endpoint.name; }

// The schedule day routes in day order, Sunday first.
inline constexpr const char* kDayNames[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// Reads in the order the matrix calls them: every route that touches the
// device and reads.
std::vector<EndpointCase> ReadEndpoints();
// The four endpoints that write: factory defaults, run configuration, one
// setting (tmpe = 7), one schedule entry (Tuesday, entry 1: 1, 07:30, 4).
std::vector<EndpointCase> WriteEndpoints();
// Both, reads first.
std::vector<EndpointCase> DeviceEndpoints();

// The longest a cycle may take with every request timing out after
// `timeoutMs`: per request its write and read time-outs and the wait for a
// late reply, the 50 ms pauses between reads, and a generous allowance for a
// loaded machine.
int CycleBoundMs(const EndpointCase& endpoint, int timeoutMs);

}  // namespace ktr::test
