#include "request_fields.h"

#include <cctype>
#include <limits>

namespace ktr {

FieldConversionError::FieldConversionError(const std::string& value)
    : std::runtime_error("'" + value + "' is not a valid integer value") {}

std::string FieldKey(std::string_view text, std::size_t position) {
  if (position >= text.size()) return {};
  const std::size_t eq = text.find('=', position);
  if (eq == std::string_view::npos) return {};
  return std::string(text.substr(position, eq - position));
}

std::string FieldValue(std::string_view text, std::size_t position) {
  if (position >= text.size()) return {};
  const std::size_t amp = text.find('&', position);
  return std::string(text.substr(position, amp == std::string_view::npos ? amp : amp - position));
}

std::int32_t FieldInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && value[i] == ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < value.size() && (value[i] == '$' || value[i] == 'x' || value[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= value.size()) throw FieldConversionError(std::string(value));
  std::int64_t magnitude = 0;
  for (; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    int digit = -1;
    if (std::isdigit(c)) {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(c)) {
      digit = std::tolower(c) - 'a' + 10;
    }
    if (digit < 0) throw FieldConversionError(std::string(value));
    magnitude = magnitude * base + digit;
    if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
      throw FieldConversionError(std::string(value));
    }
  }
  const std::int64_t result = negative ? -magnitude : magnitude;
  if (result > std::numeric_limits<std::int32_t>::max()) throw FieldConversionError(std::string(value));
  return static_cast<std::int32_t>(result);
}

std::int32_t TwoDigitPiece(std::string_view value, std::size_t position) {
  const std::size_t start = position - 1;
  return FieldInteger(start < value.size() ? value.substr(start, 2) : std::string_view{});
}

}  // namespace ktr
