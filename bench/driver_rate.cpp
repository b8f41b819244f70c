// Requests per second of the master through one serial port: one-register
// reads of address 1 at 19200 8E1, back to back (each after the line's
// quiet time), for a fixed time on one open port. bench/drivers_bench.sh
// runs it in the driver test guest on the 16550, on the FT232 and on a
// pseudo-terminal, with the same device behind each.
//
//   ktr_driver_rate PORT [SECONDS]
//   prints "PORT N requests/s, F failed"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

#include "modbus_master.h"
#include "port_address.h"
#include "serial_port_text.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ktr_driver_rate PORT [SECONDS]\n");
    return 2;
  }
  const std::string port = argv[1];
  const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
  ktr::SerialSettings settings;
  if (const std::string error = ktr::SetPortName(settings, port); !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  settings.slaveAddress = 1;
  ktr::TModbus master;
  if (master.OpenPort(settings) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", port.c_str(),
                 ktr::OpenFailureDetail(master.LastOpenFailure()).c_str());
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  int done = 0;
  int failed = 0;
  std::uint16_t value = 0;
  while (Clock::now() < end) {
    if (master.ReadHoldingRegisters(8000, 1, &value) == 0) {
      ++done;
    } else {
      ++failed;
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  master.ClosePort();
  std::printf("%s %.1f requests/s, %d failed\n", port.c_str(), done / elapsed, failed);
  return failed == 0 && done > 0 ? 0 : 1;
}
