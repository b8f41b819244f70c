// Fields of a request's parameter text: "key=value" pairs joined by "&",
// used byte for byte (no percent-decoding), and the conversion of a value to
// the integer that a register receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ktr {

// A value that is no valid integer. what() is the reply body of the 500:
// "'VALUE' is not a valid integer value".
class FieldConversionError : public std::runtime_error {
 public:
  explicit FieldConversionError(const std::string& value);
};

// The text from `position` up to the first "=" at or after it; empty when no
// "=" follows (or position is past the end).
std::string FieldKey(std::string_view text, std::size_t position);
// The text from `position` up to the first "&" at or after it, or the rest.
std::string FieldValue(std::string_view text, std::size_t position);
// Leading blanks, optional sign, decimal digits, or hexadecimal after "$",
// "x", "X", "0x" or "0X"; the whole text must be used and fit 32 bits signed.
std::int32_t FieldInteger(std::string_view value);
// What a register receives of a value: the low 16 bits of FieldInteger.
inline std::uint16_t FieldWord(std::string_view value) {
  return static_cast<std::uint16_t>(FieldInteger(value));
}
// FieldInteger of the (up to) two characters at 1-based `position`.
std::int32_t TwoDigitPiece(std::string_view value, std::size_t position);

// Calls `visit(key, value)` for each field, in order, until the key is empty.
template <typename Visit>
void ForEachField(std::string_view text, Visit&& visit) {
  std::size_t position = 0;
  for (;;) {
    const std::string key = FieldKey(text, position);
    if (key.empty()) return;
    position += key.size() + 1;
    const std::string value = FieldValue(text, position);
    position += value.size() + 1;
    visit(key, value);
  }
}

}  // namespace ktr
