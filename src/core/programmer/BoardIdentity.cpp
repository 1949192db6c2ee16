#include "core/programmer/BoardIdentity.h"

#include <cstdio>

namespace tarnvale {
namespace {

bool IsLetter(std::uint8_t c) { return c >= 'A' && c <= 'Z'; }

}  // namespace

bool IsFlashIdValid(const BoardInfoRecord& r) {
  auto w = [&r](std::size_t i) { return r.FlashIdWord(i); };
  const std::uint8_t rev = r.CpuRevision();
  if (rev == 'A' || rev == 'B') {
    return w(0) == 0x3131 && w(2) == 0x3131 && w(4) == 0x3131 && w(1) == 0xBDBD &&
           w(3) == 0xBDBD && w(5) == 0xBDBD;
  }
  if (rev == 'C') return w(1) == 0xADAD && (w(0) == 0x2020 || w(0) == 0x0101);
  if (rev == 'D') return w(0) == 0x0001 && w(1) == 0x007E && w(3) == 0x0002 && w(5) == 0x0001;
  return rev >= 'E' && rev <= 'Z';
}

bool IsBoardInfoComplete(const BoardInfoRecord& r) {
  auto lengthOk = [&r](std::size_t field) {
    return r.bytes[field] >= 1 && r.bytes[field] <= BoardInfoRecord::kSerialMax;
  };
  return IsLetter(r.IoRevision()) && IsLetter(r.CpuRevision()) &&
         r.bytes[BoardInfoRecord::kControllerSerial] > 0 && lengthOk(BoardInfoRecord::kCpuSerial) &&
         lengthOk(BoardInfoRecord::kIoSerial) && IsFlashIdValid(r);
}

BankRange BankRangeFor(std::uint8_t rev) {
  if (rev < 'D') return (rev == 'A' || rev == 'B') ? BankRange{1, 1} : BankRange{1, 4};
  return BankRange{1, 5};
}

std::string FlashDeviceName(const BoardInfoRecord& r) {
  const std::uint16_t w0 = r.FlashIdWord(0), w1 = r.FlashIdWord(1);
  if (w0 == 0x2020 && w1 == 0xADAD) return " -> M29F016D ST-Micro";
  if (w0 == 0x3131 && w1 == 0xBDBD) return " -> CAT28F020 Catalyst";
  if (w0 == 0x0101 && w1 == 0xADAD) return " -> AM29F016D AMD";
  if (r.CpuRevision() >= 'D') return " -> S29JL064H Spansion";
  return {};
}

std::vector<std::string> FlashIdLines(const BoardInfoRecord& r) {
  char buf[96];
  if (r.CpuRevision() < 'D') {
    std::snprintf(buf, sizeof buf, "Device ID = 0x%02X, Manufacture ID = 0x%02X", r.FlashIdWord(1),
                  r.FlashIdWord(0));
  } else {
    std::snprintf(buf, sizeof buf, "Device ID = 0x%02X%02X%02X, Manufacture ID = 0x%02X",
                  r.FlashIdWord(1), r.FlashIdWord(3), r.FlashIdWord(5), r.FlashIdWord(0));
  }
  std::string line = buf;
  if (IsFlashIdValid(r)) return {line + FlashDeviceName(r)};
  return {line + flash_text::kUnknown, flash_text::kFlashModeAdvice, flash_text::kRevisionAdvice};
}

}  // namespace tarnvale
