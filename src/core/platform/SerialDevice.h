#pragma once
#include <termios.h>

#include <memory>
#include <string>

#include "core/platform/Stream.h"

namespace tarnvale::platform {

struct SerialParams {
  std::uint32_t baud = 115200;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t byteSize = 8;  // 5 to 8
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half (gives two), 2 two
};

// Sets byte size, parity and stop bits in `tio` from the stored codes,
// leaving every other flag as it is. Mark and space parity use CMSPAR; one
// and a half stop bits do not exist in termios and give two.
void ApplyLineSettings(termios& tio, const SerialParams& params);

// Opens a serial device exclusively in raw 8-bit mode without flow control,
// DTR and RTS dropped. Null on failure (LastOpenError tells why).
std::unique_ptr<Stream> OpenSerialDevice(const std::string& path, const SerialParams& params);

// True when the driver accepts this baud rate on the open descriptor.
bool SetSerialBaud(int fd, std::uint32_t baud);

}  // namespace tarnvale::platform
