#pragma once
// The byte stream under a CommPort: a serial device or a TCP connection.
// Every operation returns at once except WaitReadable (bounded by its
// time-out) and Write (bounded by a time-out derived from the link speed).

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnvale::platform {

class Stream {
 public:
  virtual ~Stream() = default;
  // Reads what has arrived, up to `max` bytes; 0 when nothing has (never blocks).
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t max) = 0;
  // Writes all bytes unless the link stalls past its time-out or fails;
  // returns the count actually written.
  virtual std::size_t Write(const std::uint8_t* buffer, std::size_t count) = 0;
  // Bytes waiting to be read.
  virtual std::size_t BytesWaiting() = 0;
  // Discards waiting input and unsent output. True on success.
  virtual bool Purge() = 0;
  // Discards waiting input only. True on success.
  virtual bool PurgeInput() { return Purge(); }
  // Waits (at most the wire time of what is queued, bounded) until bytes
  // already written have left, so closing does not cut off a command's tail.
  virtual void DrainOutput() {}
  // Waits until bytes are waiting or the time-out passes; true when readable.
  // A dead link (peer gone) returns after a short pause rather than
  // spinning, and LinkLost turns true so the caller can end its wait at once.
  virtual bool WaitReadable(std::uint32_t timeoutMs) = 0;
  // True once the other end has gone (a hung-up line, a closed socket):
  // nothing more will arrive, however long one waits.
  virtual bool LinkLost() const { return false; }
  // Releases the device; true when every step succeeded.
  virtual bool Close() = 0;
  virtual int Descriptor() const = 0;
  virtual bool IsTcp() const = 0;
};

}  // namespace tarnvale::platform
