// Setting a device's clock from the command line: the two writes of the time
// page, then the clock read back.
#include <chrono>
#include <cstdlib>
#include <string>

#include "access_cycle.h"
#include "converters.h"
#include "ktr_device.h"
#include "register_table.h"
#include "rtu_frame.h"

namespace ktr {
namespace {

using std::chrono::sys_seconds;

bool ToSeconds(const ClockTime& t, sys_seconds& out) {
  using namespace std::chrono;
  const year_month_day date{year{t.year}, month{static_cast<unsigned>(t.month)},
                            day{static_cast<unsigned>(t.day)}};
  if (!date.ok() || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
      t.second > 59) {
    return false;
  }
  out = sys_days{date} + hours{t.hour} + minutes{t.minute} + seconds{t.second};
  return true;
}

std::string Failure(std::int32_t r, std::uint16_t start, std::uint16_t count) {
  return std::to_string(r) + " " + ResultText(r) + " (" + BlockName(start, count) + ")";
}

}  // namespace

TKtrDevice::ClockReport TKtrDevice::SetClock(
    const std::function<ClockTime(std::chrono::milliseconds ahead)>& timeAt) {
  ClockReport report;
  AccessCycle cycle(*this);
  if (!cycle.opened()) {
    report.failure = "port-error";
    return report;
  }
  // The time is taken for the moment its write has arrived: a function-16
  // request of three registers is 15 bytes on the wire.
  const SerialSettings line = Settings();
  const auto ahead = std::chrono::ceil<std::chrono::milliseconds>(std::chrono::nanoseconds(
      rtu::CharacterTimeNs(line.baudRate, line.dataBits, line.parity, line.stopBits) * 15));

  // The time first, then the date: should midnight pass between the two
  // writes, the device moves on to the next day by itself and the date
  // written after it is already the new one.
  const ClockTime time = timeAt(ahead);
  const std::uint16_t timeWords[3] = {static_cast<std::uint16_t>(time.hour),
                                      static_cast<std::uint16_t>(time.minute),
                                      static_cast<std::uint16_t>(time.second)};
  if (const std::int32_t r = cycle.Write(table::kTimeRegister, timeWords, 3); r != result::kOk) {
    report.failure = Failure(r, table::kTimeRegister, 3);
    return report;
  }
  const auto setAt = std::chrono::steady_clock::now();
  AccessCycle::Pause();
  const ClockTime date = timeAt(ahead);
  const std::uint16_t dateWords[3] = {static_cast<std::uint16_t>(date.year % 100),
                                      static_cast<std::uint16_t>(date.month),
                                      static_cast<std::uint16_t>(date.day)};
  if (const std::int32_t r = cycle.Write(table::kDateRegister, dateWords, 3); r != result::kOk) {
    report.failure = Failure(r, table::kDateRegister, 3);
    return report;
  }
  report.written = time;
  report.written.year = date.year;
  report.written.month = date.month;
  report.written.day = date.day;

  AccessCycle::Pause();
  const table::BlockRead& block = table::kClockBlock;
  if (const std::int32_t r = cycle.Read(block); r != result::kOk) {
    report.failure = Failure(r, block.start, block.count);
    return report;
  }
  const auto readAt = std::chrono::steady_clock::now();
  cycle.Close();
  ConvertDateTime(RegisterImage, KtrData);

  const std::uint16_t* clock = RegisterImage.data() + block.place;
  report.read = {2000 + clock[0], clock[1], clock[2], clock[3], clock[4], clock[5]};
  // The clock read back runs on from the time written.
  sys_seconds written, read;
  if (ToSeconds(time, written) && ToSeconds(report.read, read)) {
    const auto expected = written + std::chrono::duration_cast<std::chrono::seconds>(readAt - setAt);
    report.verified = std::abs((read - expected).count()) <= 2;
  }
  return report;
}

}  // namespace ktr
