#include "register_table.h"

#include <cstdio>

namespace ktr::table {

std::string ScheduleTimeText(std::uint16_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(word >> 8U),
                static_cast<unsigned>(word & 0xFFU));
  return text;
}

}  // namespace ktr::table
