#pragma once
#include <termios.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/Stream.h"

namespace tarnvale::platform {

// Parity and stop bits of a serial line. The values are the codes the
// settings store (the classic device-control-block codes), so a stored code
// converts one to one.
enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : std::uint8_t { One = 0, OnePointFive = 1, Two = 2 };

// The parity of a stored code; codes outside the table give None.
constexpr Parity ParityFromCode(std::uint8_t code) {
  return code <= 4 ? static_cast<Parity>(code) : Parity::None;
}
// The stop bits of a stored code; codes outside the table give One.
constexpr StopBits StopBitsFromCode(std::uint8_t code) {
  return code <= 2 ? static_cast<StopBits>(code) : StopBits::One;
}

struct SerialParams {
  std::uint32_t baud = 115200;
  Parity parity = Parity::None;
  std::uint8_t byteSize = 8;  // 5 to 8
  StopBits stopBits = StopBits::One;  // one and a half gives two: termios has no 1.5
};

// Sets byte size, parity and stop bits in `tio` from the stored codes,
// leaving every other flag as it is. Mark and space parity use CMSPAR; one
// and a half stop bits do not exist in termios and give two.
void ApplyLineSettings(termios& tio, const SerialParams& params);

// Opens a serial device exclusively in raw 8-bit mode without flow control,
// DTR and RTS dropped. Null on failure, with the reason in `error`.
std::unique_ptr<Stream> OpenSerialDevice(const std::string& path, const SerialParams& params,
                                         std::string& error);

// The line settings an open serial descriptor has now; nothing when they
// cannot be read or the rate is none of the standard ones.
std::optional<SerialParams> ReadLineSettings(int fd);

// True when the driver accepts this baud rate on the open descriptor.
bool SetSerialBaud(int fd, std::uint32_t baud);

}  // namespace tarnvale::platform
