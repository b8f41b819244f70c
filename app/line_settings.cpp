#include "line_settings.h"

#include <charconv>

#include "port_address.h"

namespace ktr::app {
namespace {

template <std::size_t N>
int IndexOf(const std::array<std::string_view, N>& items, std::string_view text, int fallback) {
  for (std::size_t i = 0; i < N; ++i) {
    if (items[i] == text) return static_cast<int>(i);
  }
  return fallback;
}

// `index` when it is a position of a list of `n` items, else `fallback`
// (a choice that no list shows, e.g. a combo box with nothing selected).
int Position(int index, std::size_t n, int fallback) {
  return index >= 0 && static_cast<std::size_t>(index) < n ? index : fallback;
}

template <std::size_t N>
std::string_view ItemAt(const std::array<std::string_view, N>& items, int index, int fallback) {
  return items[static_cast<std::size_t>(Position(index, N, fallback))];
}

int IntegerOf(std::string_view text) {
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

LineChoice ChoiceFromSettings(const SerialSettings& settings) {
  const LineChoice defaults;
  LineChoice choice;
  choice.baud = IndexOf(kBaudItems, std::to_string(settings.baudRate), defaults.baud);
  choice.parity = settings.parity < kParityItems.size() ? settings.parity : defaults.parity;
  choice.stop = settings.stopBits < kStopItems.size() ? settings.stopBits : defaults.stop;
  choice.data = settings.dataBits >= 5 && settings.dataBits <= 7 ? settings.dataBits - 5 : defaults.data;
  choice.rs485 = settings.rs485;
  return choice;
}

SerialSettings ApplyChoice(SerialSettings settings, const LineChoice& choice) {
  const LineChoice defaults;
  settings.baudRate = IntegerOf(ItemAt(kBaudItems, choice.baud, defaults.baud));
  settings.parity = static_cast<std::uint8_t>(Position(choice.parity, kParityItems.size(), defaults.parity));
  settings.stopBits = static_cast<std::uint8_t>(Position(choice.stop, kStopItems.size(), defaults.stop));
  settings.dataBits = static_cast<std::uint8_t>(IntegerOf(ItemAt(kDataItems, choice.data, defaults.data)));
  settings.rs485 = choice.rs485;
  // The dialog is the serial line's: the transport stays the one the port
  // name gives (0 for a serial port, a TCP transport for a gateway address).
  settings.transport = ParsePortAddress(settings.portName).transport;
  return settings;
}

std::string SettingsLabelText(const LineChoice& choice) {
  const LineChoice defaults;
  std::string text(ItemAt(kBaudItems, choice.baud, defaults.baud));
  text += ',';
  text += ItemAt(kParityItems, choice.parity, defaults.parity);
  text += ',';
  text += ItemAt(kDataItems, choice.data, defaults.data);
  text += ',';
  text += ItemAt(kStopItems, choice.stop, defaults.stop);
  return text;
}

}  // namespace ktr::app
