#include "sim/Rq700Memory.h"

#include <algorithm>

namespace tarnvale::sim {

Rq700Memory::Rq700Memory(std::uint32_t flashBase)
    : flashBase_(std::min(flashBase, kBootAreaBase)),
      flash_(static_cast<std::size_t>(kTopAddress - flashBase_) + 1, 0xFF),
      ram_(static_cast<std::size_t>(kRamEnd) + 1, 0x00) {}

std::uint8_t Rq700Memory::Read(std::uint64_t a) const {
  if (InFlash(a)) return flash_[a - flashBase_];
  if (InRam(a)) return ram_[a];
  return 0xFF;
}

std::uint8_t Rq700Memory::Program(std::uint32_t address, const std::uint8_t* bytes, std::size_t n) {
  if (n == 0) return kOk;
  const std::uint64_t last = static_cast<std::uint64_t>(address) + n - 1;
  if (InRam(address) && InRam(last)) {
    std::copy_n(bytes, n, ram_.begin() + address);
    return kOk;
  }
  if (!InFlash(address) || !InFlash(last)) return kOutOfRange;
  // The boot area is protected: its packets are taken but never written.
  if (InBootArea(address)) return kOk;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t a = static_cast<std::uint64_t>(address) + i;
    if (!InBootArea(a) && (bytes[i] & ~flash_[a - flashBase_]) != 0) return kWouldSetBit;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t a = static_cast<std::uint64_t>(address) + i;
    if (!InBootArea(a)) flash_[a - flashBase_] &= bytes[i];
  }
  return kOk;
}

void Rq700Memory::EraseFlash() {
  std::fill(flash_.begin(), flash_.begin() + (kBootAreaBase - flashBase_), 0xFF);
}

void Rq700Memory::Poke(std::uint64_t address, const std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t a = address + i;
    if (InFlash(a)) {
      flash_[a - flashBase_] = bytes[i];
    } else if (InRam(a)) {
      ram_[a] = bytes[i];
    }
  }
}

}  // namespace tarnvale::sim
