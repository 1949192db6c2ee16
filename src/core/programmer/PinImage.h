#pragma once
// The 26-byte image of the 80386EX's 104 boundary-scan pins: pin k has its
// drive-enable bit in byte k/8 and its level bit in byte 13 + k/8, bit k%8.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnvale {

inline constexpr int kPinCount = 104;
inline constexpr std::size_t kPinImageSize = 26;
inline constexpr std::size_t kLevelOffset = 13;
// Pins 0 to 2 have no function and are never shown.
inline constexpr int kFirstShownPin = 3;

struct PinImage {
  std::array<std::uint8_t, kPinImageSize> bytes{};

  // The constant every image starts from.
  static PinImage Initial();

  bool Level(int pin) const { return (bytes[kLevelOffset + pin / 8] >> (pin % 8)) & 1; }
  void SetLevel(int pin, bool high);
  bool Enabled(int pin) const { return (bytes[pin / 8] >> (pin % 8)) & 1; }

  // Value bits 1 to 25 onto A1..A25; bit 0 has no pin.
  void SetAddressLines(std::uint32_t value);
  // D0..D15 levels; enables of D0..D7 set (those of D8..D15 untouched).
  void SetDataLines(std::uint16_t value);
  // One pin per bit of the control word (see kControlWordPins).
  void SetControlLines(std::uint32_t word);
  // The idle levels of the bus control and port pins.
  void SetControlDefaults();

  friend bool operator==(const PinImage&, const PinImage&) = default;
};

// True when the 13 level bytes agree; enables are not compared.
bool PinLevelsEqual(const PinImage& a, const PinImage& b);

// "MIO", "A1", "D15", ...; empty for a number outside 0..103.
const std::string& PinName(int pin);
// The pin of a name, or -1.
int PinByName(const std::string& name);
// The pin each bit of the control word drives.
extern const std::array<int, 32> kControlWordPins;

// The image the control-line prober sends for one mask, or nothing for a
// mask outside the table (0x80000000).
std::optional<PinImage> ControlToggleImage(std::uint32_t mask);
// The idle image: initial, address 0, data 0, control defaults.
PinImage IdleControlImage();

// One row of the pin state list.
struct PinStateRow {
  int pin = 0;
  std::string text;      // "%9s%5s%10s": name, expected, read
  bool agrees = true;    // green when true, red otherwise
};
// Pins 3 to 103 of an expected and a read image: the differing ones first,
// each part in pin order.
std::vector<PinStateRow> PinStateRows(const PinImage& expected, const PinImage& read);
// The pins whose levels differ (pins 3 to 103).
std::vector<int> MismatchedPins(const PinImage& expected, const PinImage& read);

}  // namespace tarnvale
