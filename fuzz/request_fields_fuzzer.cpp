// Fuzz target: the parameter text of a request, any bytes.
//
// - Walking the fields ends, and every pair it hands out is the next piece of
//   the text: the key runs up to an "=", has no "=" in it and is not empty;
//   the value runs up to the next "&" or the end. The walk ends only where
//   no key is left: at the end of the text, where no "=" follows, or at an
//   "=" that starts a field.
// - The first field (as the settings write takes it): the key is the text
//   up to the first "=" (empty without one), the value the text after the
//   key and one more character up to the next "&".
// - FieldInteger agrees with a second, independent reading of the integer
//   rule (blanks, sign, "$" / "x" / "X" / "0x" / "0X" for hexadecimal, whole
//   text, signed 32-bit range), both in the value and in the exact error
//   text "'VALUE' is not a valid integer value".
// - TwoDigitPiece is FieldInteger of the (up to) two characters at its
//   1-based position.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "request_fields.h"

namespace {

using ktr::fuzz::Check;

// The integer rule, read a second way: strip the parts in front, then let
// std::from_chars take the digits (it accepts no sign, no prefix, no blank,
// so what it consumes is exactly a run of digits of the base).
std::optional<std::int32_t> ReferenceInteger(std::string_view text) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return std::nullopt;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  const std::string_view rest = text.substr(i);
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    i += 2;
  } else if (rest.starts_with("$") || rest.starts_with("x") || rest.starts_with("X")) {
    base = 16;
    i += 1;
  }
  const std::string_view digits = text.substr(i);
  if (digits.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (error == std::errc::result_out_of_range) return std::nullopt;
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (magnitude > 0x80000000ULL) return std::nullopt;  // beyond any 32-bit value, either sign
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void CheckInteger(std::string_view text) {
  const std::optional<std::int32_t> expected = ReferenceInteger(text);
  try {
    const std::int32_t value = ktr::FieldInteger(text);
    Check(expected.has_value(), "FieldInteger accepted a text that is no integer");
    Check(value == *expected, "FieldInteger gave another value");
  } catch (const ktr::FieldConversionError& e) {
    Check(!expected.has_value(), "FieldInteger refused a valid integer");
    // The reply body is what() as a C string: it ends at a zero byte of the
    // value (the front end never passes one; the handlers might).
    const std::string message = "'" + std::string(text) + "' is not a valid integer value";
    Check(std::string_view(message.c_str()) == e.what(), "conversion error text");
  }
}

void CheckPiece(std::string_view text, std::size_t position) {
  const std::size_t start = position - 1;
  const std::string_view piece = start < text.size() ? text.substr(start, 2) : std::string_view{};
  const std::optional<std::int32_t> expected = ReferenceInteger(piece);
  try {
    const std::int32_t value = ktr::TwoDigitPiece(text, position);
    Check(expected.has_value() && value == *expected, "TwoDigitPiece accepted or misread a piece");
  } catch (const ktr::FieldConversionError&) {
    Check(!expected.has_value(), "TwoDigitPiece refused a valid piece");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::size_t position = 0;
  std::size_t pairs = 0;
  ktr::ForEachField(text, [&](const std::string& key, const std::string& value) {
    Check(++pairs <= text.size(), "walk does not end");
    Check(!key.empty(), "empty key handed out");
    Check(key.find('=') == std::string::npos, "key holds '='");
    Check(text.substr(position, key.size()) == key, "key is not the text at the position");
    Check(position + key.size() < text.size() && text[position + key.size()] == '=',
          "key does not end at '='");
    position += key.size() + 1;
    Check(value.find('&') == std::string::npos, "value holds '&'");
    Check(text.substr(position, value.size()) == value, "value is not the text after '='");
    const std::size_t end = position + value.size();
    Check(end == text.size() || text[end] == '&', "value does not end at '&' or the end");
    position = end + 1;
    CheckInteger(value);
  });
  // The walk stopped where the next key is empty, and only there.
  const bool noKeyLeft =
      position >= text.size() || text.find('=', position) == std::string_view::npos || text[position] == '=';
  Check(noKeyLeft, "walk ended while a key was left");

  // The first field as the settings write takes it.
  const std::string key = ktr::FieldKey(text, 0);
  const std::string value = ktr::FieldValue(text, key.size() + 1);
  const std::size_t eq = text.find('=');
  Check(key == (eq == std::string_view::npos ? std::string_view{} : text.substr(0, eq)),
        "first key is not the text before the first '='");
  const std::string_view rest = key.size() < text.size() ? text.substr(key.size() + 1) : std::string_view{};
  Check(value == rest.substr(0, rest.find('&')), "first value is not the text up to the next '&'");

  CheckInteger(text);
  for (std::size_t p = 1; p <= 12; ++p) CheckPiece(text, p);
  return 0;
}
