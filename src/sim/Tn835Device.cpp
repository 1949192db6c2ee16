#include "sim/Tn835Device.h"

#include <algorithm>

namespace tarnvale::sim {
namespace {
constexpr std::uint8_t kDataType = 0x00;
constexpr std::uint8_t kEndType = 0x01;
constexpr std::uint8_t kSegmentType = 0x04;
constexpr std::uint8_t kEraseType = 0x06;
// Layout mode 2 puts the image's top 8 KiB in segment 0x0200, 0x2000 higher.
constexpr std::uint16_t kHighSegment = 0x0200;
constexpr std::uint32_t kHighSegmentShift = 0x2000;
}  // namespace

std::uint8_t Tn835Flash::Program(std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
  if (offset + n > bytes_.size()) return 'B';
  for (std::size_t i = 0; i < n; ++i) {
    if ((data[i] & ~bytes_[offset + i]) != 0) return '4';
  }
  for (std::size_t i = 0; i < n; ++i) bytes_[offset + i] &= data[i];
  return '0';
}

Tn835Device::Tn835Device(Tn835Options options) : options_(std::move(options)) {}

void Tn835Device::ResetLink() {
  packet_.clear();
  inPacket_ = false;
}

const Fault* Tn835Device::FindFault(Fault::Kind kind, std::uint32_t n) const {
  for (const Fault& f : options_.faults) {
    if (f.kind == kind && (kind == Fault::Kind::Erase || f.n == n)) return &f;
  }
  return nullptr;
}

void Tn835Device::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<SimOutput>& out) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    if (!inPacket_) {
      if (b == ':') {
        inPacket_ = true;
        packet_.clear();
      }
      continue;  // the production controller has no monitor on this link
    }
    packet_.push_back(b);
    if (packet_.size() >= 5 && packet_.size() == static_cast<std::size_t>(packet_[0]) + 5) {
      inPacket_ = false;
      HandlePacket(out);
    }
  }
}

void Tn835Device::Reply(std::vector<SimOutput>& out, std::uint8_t status, std::uint32_t delayMs) {
  if (silent_) return;
  out.push_back(SimOutput{{status}, delayMs, true, false});
}

void Tn835Device::HandlePacket(std::vector<SimOutput>& out) {
  if (silent_) return;
  const std::uint8_t count = packet_[0];
  const auto address = static_cast<std::uint16_t>(packet_[1] << 8 | packet_[2]);
  const std::uint8_t type = packet_[3];
  const std::uint8_t* data = packet_.data() + 4;
  unsigned sum = 0;
  for (const std::uint8_t b : packet_) sum += b;
  if ((sum & 0xFF) != 0) {
    Reply(out, '2', 0);
    return;
  }
  switch (type) {
    case kEraseType: {
      ++erases_;
      if (const Fault* f = FindFault(Fault::Kind::Erase, 0)) {
        Reply(out, f->value, options_.eraseMs);
        return;
      }
      flash_.Erase();
      Reply(out, '0', options_.eraseMs);
      return;
    }
    case kSegmentType:
      if (count != 2) {
        Reply(out, '1', 0);
        return;
      }
      segment_ = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
      Reply(out, '0', options_.ackDelayMs);
      return;
    case kDataType: {
      const std::uint32_t number = ++programPackets_;
      if (FindFault(Fault::Kind::CloseAfter, number - 1) != nullptr) {
        silent_ = true;
        out.push_back(SimOutput{{}, 0, false, true});
        return;
      }
      if (FindFault(Fault::Kind::SilentAfter, number - 1) != nullptr) {
        silent_ = true;
        return;
      }
      std::uint64_t offset = 0;
      std::uint8_t status = 'B';
      if (segment_ == kHighSegment) {
        if (address >= kHighSegmentShift) {
          offset = 0x20000 + (address - kHighSegmentShift);
          status = flash_.Program(offset, data, count);
        }
      } else if (segment_ <= 1) {
        offset = static_cast<std::uint64_t>(segment_) << 16 | address;
        status = flash_.Program(offset, data, count);
      }
      if (const Fault* f = FindFault(Fault::Kind::Ack, number)) status = f->value;
      Reply(out, status, options_.ackDelayMs);
      if (status == '0') {
        ++acks_;
        if (const Fault* f = FindFault(Fault::Kind::Stray, acks_)) {
          out.push_back(SimOutput{{f->value}, options_.ackDelayMs, false, false});
        }
      }
      return;
    }
    case kEndType:
      Reply(out, '0', options_.ackDelayMs);
      return;
    default:
      Reply(out, 'E', 0);
      return;
  }
}

bool Tn835Cpu::HandlePacket(std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                            std::uint8_t count, std::vector<SimOutput>& out) {
  std::uint8_t status = '0';
  std::uint32_t delay = 0;
  switch (type) {
    case kEraseType:
      flash_.Erase();
      delay = eraseMs_;
      break;
    case kSegmentType:
      if (count != 2) {
        status = '1';
        break;
      }
      segment_ = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
      break;
    case kDataType:
      ++programPackets_;
      // Layout mode 1 announces every segment as 4: the boot flash's own.
      status = segment_ == (kTn835BootBase >> 16) ? flash_.Program(address, data, count) : 'B';
      break;
    case kEndType:
      break;
    default:
      return false;
  }
  out.push_back(SimOutput{{status}, delay, true, false});
  return true;
}

}  // namespace tarnvale::sim
