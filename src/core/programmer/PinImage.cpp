#include "core/programmer/PinImage.h"

#include <algorithm>
#include <cstdio>

namespace tarnvale {
namespace {

// Pin numbers by name, for the tables below.
enum Pin : int {
  MIO = 3, DC = 4, WRD = 5, RD = 8, WR = 9, BLE = 10, BHE = 11, ADS = 12, A1 = 14,
  P_3_0 = 40, P_3_1 = 41, SRXCLK = 42, RTS1 = 44, P_3_2 = 45, P_3_3 = 46, P_3_4 = 47,
  P_3_5 = 48, P_3_6 = 49, TMROUT2 = 53, INT4 = 55, INT5 = 56, STXCLK = 59, P_1_0 = 61,
  RTS0 = 62, P_1_2 = 63, P_1_3 = 64, P_1_4 = 65, P_1_5 = 66, SP_1_6 = 67, P_1_7 = 69,
  TXD1 = 70, EOP = 71, WDTOUT = 72, SMIACT = 75, CS0 = 76, CS1 = 77, CS2 = 78, CS3 = 79,
  CS4 = 80, CS5 = 81, TXD0 = 83, UCS = 85, CS6 = 86, LBA = 87, D0 = 88
};

std::vector<std::string> BuildNames() {
  std::vector<std::string> n = {"Unused 1", "Unused 2", "Unused 3", "MIO", "DC", "WRD", "READY",
                                "BS8", "RD", "WR", "BLE", "BHE", "ADS", "NA"};
  for (int i = 1; i <= 25; ++i) n.push_back("A" + std::to_string(i));
  for (const char* s :
       {"SMI", "P_3_0", "P_3_1", "SRXCLK", "SSIORX", "RTS1", "P_3_2", "P_3_3", "P_3_4", "P_3_5",
        "P_3_6", "P_3_7", "PEREQ", "NMI", "TMROUT2", "TMRGATE2", "INT4", "INT5", "INT6", "INT7",
        "STXCLK", "FLT", "P_1_0", "RTS0", "P_1_2", "P_1_3", "P_1_4", "P_1_5", "SP_1_6", "RESET",
        "P_1_7", "TXD1", "EOP", "WDTOUT", "DRQ0", "DRQ1", "SMIACT", "CS0", "CS1", "CS2", "CS3",
        "CS4", "CS5", "P_2_5", "TXD0", "P_2_7", "UCS", "CS6", "LBA"}) {
    n.emplace_back(s);
  }
  for (int i = 0; i <= 15; ++i) n.push_back("D" + std::to_string(i));
  return n;
}

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = BuildNames();
  return names;
}

// The prober's masks and the pin each toggles.
struct ToggleRow {
  std::uint32_t mask;
  int pin;  // -1: the idle image alone
};
constexpr ToggleRow kToggleTable[] = {
    {0x1, UCS},          {0x2, CS0},         {0x4, CS1},         {0x8, -1},
    {0x10, CS1},         {0x20, CS2},        {0x40, CS3},        {0x80, CS4},
    {0x100, CS5},        {0x200, CS6},       {0x400, WRD},       {0x800, RD},
    {0x1000, WR},        {0x2000, BLE},      {0x4000, BHE},      {0x8000, LBA},
    {0x10000, P_1_0},    {0x20000, P_1_2},   {0x40000, P_1_3},   {0x80000, P_1_4},
    {0x100000, P_1_5},   {0x200000, SP_1_6}, {0x400000, P_1_7},  {0x800000, ADS},
    {0x1000000, P_3_0},  {0x2000000, P_3_1}, {0x4000000, P_3_6}, {0x8000000, RTS0},
    {0x10000000, TXD0},  {0x20000000, RTS1}, {0x40000000, TXD1},
};

}  // namespace

const std::array<int, 32> kControlWordPins = {
    MIO,   DC,    WRD,    ADS,    P_3_0,  P_3_1,  SRXCLK, RTS1,   P_3_4,  P_3_5, P_3_6,
    TMROUT2, INT4, INT5,  STXCLK, P_1_0,  RTS0,   P_1_2,  P_1_3,  P_1_4,  P_1_5, SP_1_6,
    P_1_7, TXD1,  EOP,    WDTOUT, SMIACT, CS1,    CS2,    CS3,    TXD0,   LBA};

PinImage PinImage::Initial() {
  return PinImage{{0x38, 0xDF, 0xFF, 0xFF, 0x7F, 0x97, 0xA3, 0xE9, 0xEF, 0xF9, 0xEB, 0x00, 0x00,
                   0xC0, 0x2F, 0x00, 0x00, 0x80, 0x18, 0x08, 0x56, 0x00, 0xF6, 0x67, 0x00, 0x00}};
}

void PinImage::SetLevel(int pin, bool high) {
  std::uint8_t& b = bytes[kLevelOffset + pin / 8];
  const auto bit = static_cast<std::uint8_t>(1u << (pin % 8));
  b = high ? static_cast<std::uint8_t>(b | bit) : static_cast<std::uint8_t>(b & ~bit);
}

void PinImage::SetAddressLines(std::uint32_t value) {
  for (int i = 1; i <= 25; ++i) SetLevel(A1 + i - 1, (value >> i) & 1);
}

void PinImage::SetDataLines(std::uint16_t value) {
  bytes[kLevelOffset + D0 / 8] = static_cast<std::uint8_t>(value);
  bytes[kLevelOffset + D0 / 8 + 1] = static_cast<std::uint8_t>(value >> 8);
  bytes[D0 / 8] = 0xFF;
}

void PinImage::SetControlLines(std::uint32_t word) {
  for (int bit = 0; bit < 32; ++bit) SetLevel(kControlWordPins[bit], (word >> bit) & 1);
}

void PinImage::SetControlDefaults() {
  for (int p : {RD, WR, BLE, BHE, ADS, CS0, CS1, CS2, CS3, CS4, CS5, CS6, UCS, LBA}) {
    SetLevel(p, true);
  }
  for (int p : {WRD, P_3_0, P_3_1, RTS1, P_3_6, P_1_0, RTS0, P_1_2, P_1_3, P_1_4, P_1_5, SP_1_6,
                P_1_7, TXD1, TXD0}) {
    SetLevel(p, false);
  }
}

bool PinLevelsEqual(const PinImage& a, const PinImage& b) {
  for (std::size_t i = kLevelOffset; i < kPinImageSize; ++i) {
    if (a.bytes[i] != b.bytes[i]) return false;
  }
  return true;
}

const std::string& PinName(int pin) {
  static const std::string none;
  return pin >= 0 && pin < kPinCount ? Names()[static_cast<std::size_t>(pin)] : none;
}

int PinByName(const std::string& name) {
  for (int p = 0; p < kPinCount; ++p) {
    if (Names()[static_cast<std::size_t>(p)] == name) return p;
  }
  return -1;
}

PinImage IdleControlImage() {
  PinImage image = PinImage::Initial();
  image.SetAddressLines(0);
  image.SetDataLines(0);
  image.SetControlDefaults();
  return image;
}

std::optional<PinImage> ControlToggleImage(std::uint32_t mask) {
  for (const ToggleRow& row : kToggleTable) {
    if (row.mask != mask) continue;
    PinImage image = IdleControlImage();
    // Chip select 1 is toggled a second time with the upper address line set,
    // so both of its decoded windows can be seen on a scope.
    if (mask == 0x10) image.SetAddressLines(0x200000);
    if (row.pin >= 0) image.SetLevel(row.pin, !image.Level(row.pin));
    return image;
  }
  return std::nullopt;
}

std::vector<PinStateRow> PinStateRows(const PinImage& expected, const PinImage& read) {
  std::vector<PinStateRow> rows;
  for (int p = kFirstShownPin; p < kPinCount; ++p) {
    const bool e = expected.Level(p);
    const bool r = read.Level(p);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%9s%5s%10s", PinName(p).c_str(), e ? "1" : "0", r ? "1" : "0");
    rows.push_back(PinStateRow{p, buf, e == r});
  }
  // The rows a technician looks for come first; each part keeps pin order.
  std::stable_partition(rows.begin(), rows.end(), [](const PinStateRow& row) { return !row.agrees; });
  return rows;
}

std::vector<int> MismatchedPins(const PinImage& expected, const PinImage& read) {
  std::vector<int> pins;
  for (int p = kFirstShownPin; p < kPinCount; ++p) {
    if (expected.Level(p) != read.Level(p)) pins.push_back(p);
  }
  return pins;
}

}  // namespace tarnvale
