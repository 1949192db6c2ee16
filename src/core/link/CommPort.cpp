#include "core/link/CommPort.h"

#include <charconv>

#include "core/platform/Clock.h"
#include "core/platform/SerialDevice.h"
#include "core/platform/TcpSocket.h"

namespace tarnvale {

CommPort::~CommPort() { Close(); }

std::string CommPort::DevicePathFor(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  if (name.size() > 3 && name.compare(0, 3, "COM") == 0) {
    unsigned n = 0;
    const char* first = name.data() + 3;
    const char* last = name.data() + name.size();
    const auto [end, ec] = std::from_chars(first, last, n);
    if (ec == std::errc() && end == last && n >= 1 && n <= 256) {
      return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return {};
}

bool CommPort::Open(const std::string& name, std::uint32_t baudRate, Parity parity,
                    std::uint8_t byteSize, StopBits stopBits) {
  if (IsOpen()) return true;
  lastError_.clear();
  std::string host;
  std::uint16_t port = 0;
  if (platform::ParseIpv4Endpoint(name, host, port)) {
    stream_ = platform::ConnectTcp(host, port, lastError_);
    return IsOpen();
  }
  const std::string path = DevicePathFor(name);
  if (path.empty()) {
    lastError_ = "\"" + name + "\" is neither a serial port nor an IPv4 address";
    return false;
  }
  stream_ = platform::OpenSerialDevice(path, {baudRate, parity, byteSize, stopBits}, lastError_);
  if (!stream_) return false;
  portName_ = name;
  return true;
}

void CommPort::Attach(std::unique_ptr<platform::Stream> stream) {
  Close();
  lastError_.clear();
  statusWait_ = {};
  stream_ = std::move(stream);
}

bool CommPort::Close() {
  statusWait_ = {};
  if (!IsOpen()) return false;
  // What was written must still reach the device (a 'g' CR that starts a
  // loaded program is often the last thing sent), so only the input is
  // discarded; unsent output is given time to leave.
  stream_->DrainOutput();
  stream_->PurgeInput();
  const bool ok = stream_->Close();
  stream_.reset();
  return ok;
}

std::size_t CommPort::Read(std::uint8_t* buffer, std::size_t max) {
  return IsOpen() ? stream_->Read(buffer, max) : 0;
}

std::size_t CommPort::Write(const std::uint8_t* buffer, std::size_t count) {
  if (!IsOpen() || count == 0) return 0;
  const std::size_t written = stream_->Write(buffer, count);
  // A serial write the system refused outright (an unplugged adapter) is
  // not a short write: it returns 0 without a message, or every key typed
  // into a dead port would raise a box. TCP counts a send error as 0 bytes
  // written and reports it like any short write.
  const bool failedSerialWrite = written == 0 && !stream_->IsTcp();
  if (written != count && !failedSerialWrite && shortWrite_) shortWrite_(count, written);
  return written;
}

void CommPort::WriteByte(unsigned value) {
  const auto b = static_cast<std::uint8_t>(value & 0xFF);
  Write(&b, 1);
}

int CommPort::Purge() {
  statusWait_ = {};
  return IsOpen() && stream_->Purge() ? 1 : 0;
}

std::size_t CommPort::GetInQueue() { return IsOpen() ? stream_->BytesWaiting() : 0; }

bool CommPort::WaitReadable(std::uint32_t timeoutMs) {
  if (IsOpen()) return stream_->WaitReadable(timeoutMs);
  // A closed port never becomes readable; sleep rather than let the caller spin.
  SystemClock().SleepMs(timeoutMs);
  return false;
}

bool CommPort::EnumeratePorts(std::vector<PortInfo>& list) {
  list = platform::ListSerialPorts();
  return true;
}

std::string CommPort::ShortWriteMessage(std::size_t requested, std::size_t written) {
  return "Bytes to write = " + std::to_string(requested) + ", Bytes written " +
         std::to_string(written);
}

}  // namespace tarnvale
