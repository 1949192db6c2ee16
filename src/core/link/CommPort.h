#pragma once
// The one transport object through which the program reaches a controller or
// the Universal Programmer box: a serial device or a TCP connection.
//
// Names: a dotted IPv4 address, optionally with ":port" (default 4000),
// opens TCP; "COMn" maps to /dev/ttyS(n-1) (the name is kept as given, so
// messages still say COM1); a name beginning with '/' is a device path.
// Anything else (a lower-case "com1" among them) does not open.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/platform/PortList.h"
#include "core/platform/SerialDevice.h"
#include "core/platform/Stream.h"

namespace tarnvale {

using platform::Parity;
using platform::ParityFromCode;
using platform::PortInfo;
using platform::StopBits;
using platform::StopBitsFromCode;

class CommPort {
 public:
  using ShortWriteHandler = std::function<void(std::size_t requested, std::size_t written)>;

  CommPort() = default;
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  // True when the port is open afterwards. An open port stays as it is: the
  // new parameters are ignored (Close first to change them).
  // Parity and stop bits are ignored by TCP. The settings keep them as
  // codes: ParityFromCode and StopBitsFromCode convert.
  bool Open(const std::string& name, std::uint32_t baudRate, Parity parity,
            std::uint8_t byteSize, StopBits stopBits);
  // Takes over a byte stream that is already open (a link made elsewhere,
  // such as a test's scripted device); an open port is closed first. The
  // port name stays as it is.
  void Attach(std::unique_ptr<platform::Stream> stream);
  // True when everything closed cleanly; false when not open.
  bool Close();
  bool IsOpen() const { return stream_ != nullptr; }

  // Whatever has arrived, up to `max` bytes; never blocks. 0 when closed.
  std::size_t Read(std::uint8_t* buffer, std::size_t max);
  // Returns the count written. A short write is reported to the short-write
  // handler. Writing 0 bytes, and a serial write that fails altogether,
  // return 0 silently.
  std::size_t Write(const std::uint8_t* buffer, std::size_t count);
  std::size_t Write(std::span<const std::uint8_t> bytes) { return Write(bytes.data(), bytes.size()); }
  void WriteByte(unsigned value);
  // Discards waiting input and unsent output; nonzero on success, 0 when
  // there is nothing open to purge.
  int Purge();
  // Bytes waiting to be read (serial and TCP alike).
  std::size_t GetInQueue();
  // Sleeps until bytes wait or the time-out passes, instead of spinning.
  bool WaitReadable(std::uint32_t timeoutMs);
  // True once the other end has gone (hung-up line, closed socket): every
  // wait for a reply ends at once with rc::kLinkLost.
  bool LinkLost() const { return stream_ && stream_->LinkLost(); }

  // The name last opened as a serial port (a TCP open leaves it unchanged).
  const std::string& PortName() const { return portName_; }
  bool IsTcp() const { return stream_ && stream_->IsTcp(); }
  // The descriptor, for readiness notification; -1 when closed.
  int Descriptor() const { return stream_ ? stream_->Descriptor() : -1; }
  // Why the last Open failed, for messages.
  const std::string& LastError() const { return lastError_; }

  void SetShortWriteHandler(ShortWriteHandler handler) { shortWrite_ = std::move(handler); }

  // What the last wait for a one-byte status reply saw on this port, kept so
  // that a '@' the device itself sent is not shown as a wait that ran out
  // (the result code is the same byte either way). Set by WaitStatusByte;
  // Open, Close and Purge forget it.
  struct StatusWait {
    bool answered = false;       // a byte came; `byte` is it
    std::uint8_t byte = 0;
    std::uint32_t afterMs = 0;   // from the start of the wait
    std::uint32_t limitMs = 0;   // what the wait allowed
  };
  void NoteStatusWait(const StatusWait& wait) { statusWait_ = wait; }
  const StatusWait& LastStatusWait() const { return statusWait_; }

  // The serial ports of this machine, busy ones included. Always true.
  static bool EnumeratePorts(std::vector<PortInfo>& list);

  // Maps a port name to the device path it opens ("COM3" -> "/dev/ttyS2");
  // empty when the name is not a serial port name.
  static std::string DevicePathFor(const std::string& name);

  // The text of a short write, as the GUI shows it.
  static std::string ShortWriteMessage(std::size_t requested, std::size_t written);

 private:
  std::unique_ptr<platform::Stream> stream_;
  std::string portName_;
  std::string lastError_;
  ShortWriteHandler shortWrite_;
  StatusWait statusWait_;
};

}  // namespace tarnvale
