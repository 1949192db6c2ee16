#include "sim/Rq700Device.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tarnvale::sim {
namespace {

constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kLF = 0x0A;
constexpr std::uint8_t kCtrlD = 0x04;

// A memory line holds at most this many bytes, so that it stays well below
// the 80 characters the host accepts before the line end.
constexpr std::uint32_t kLineBytes = 32;
// Runs at least this long are sent as a fill record.
constexpr std::uint32_t kMinFillRun = 32;

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

std::string Hex2(std::uint8_t v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v);
  return buf;
}

std::vector<std::uint8_t> LineBytes(const std::string& line) {
  std::vector<std::uint8_t> out(line.begin(), line.end());
  out.push_back(kLF);
  out.push_back(kCR);
  return out;
}

bool ParseNumber(const std::string& s, std::uint32_t& out, int base = 10) {
  if (s.empty()) return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(s.c_str(), &end, base);
  if (*end != '\0' || v > 0xFFFFFFFFul) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseCode(const std::string& s, std::uint8_t& out) {
  if (s.size() == 1) {
    out = static_cast<std::uint8_t>(s[0]);
    return true;
  }
  std::uint32_t v = 0;
  if (!ParseNumber(s, v, 16) || v > 0xFF) return false;
  out = static_cast<std::uint8_t>(v);
  return true;
}

}  // namespace

std::optional<Fault> ParseFault(const std::string& text, std::string& error) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) {
    error = "fault needs KIND:ARGS: " + text;
    return std::nullopt;
  }
  const std::string kind = text.substr(0, colon);
  const std::string args = text.substr(colon + 1);
  Fault f;
  const auto eq = args.find('=');
  const std::string left = args.substr(0, eq);
  const std::string right = eq == std::string::npos ? std::string() : args.substr(eq + 1);
  bool ok = false;
  if (kind == "ack") {
    f.kind = Fault::Kind::Ack;
    ok = eq != std::string::npos && ParseNumber(left, f.n) && f.n > 0 && ParseCode(right, f.value);
  } else if (kind == "erase") {
    f.kind = Fault::Kind::Erase;
    ok = eq == std::string::npos && ParseCode(args, f.value);
  } else if (kind == "silent-after") {
    f.kind = Fault::Kind::SilentAfter;
    ok = eq == std::string::npos && ParseNumber(args, f.n);
  } else if (kind == "stray") {
    f.kind = Fault::Kind::Stray;
    std::uint32_t v = 0;
    ok = eq != std::string::npos && ParseNumber(left, f.n) && f.n > 0 && ParseNumber(right, v, 16) &&
         v <= 0xFF;
    f.value = static_cast<std::uint8_t>(v);
  } else if (kind == "close-after-lines") {
    f.kind = Fault::Kind::CloseAfterLines;
    ok = eq == std::string::npos && ParseNumber(args, f.n);
  } else if (kind == "weak-cell") {
    f.kind = Fault::Kind::WeakCell;
    ok = eq == std::string::npos && ParseNumber(args, f.n) && f.n > 0;
  } else if (kind == "close-after") {
    f.kind = Fault::Kind::CloseAfter;
    ok = eq == std::string::npos && ParseNumber(args, f.n);
  } else {
    error = "unknown fault kind: " + kind;
    return std::nullopt;
  }
  if (!ok) {
    error = "malformed fault: " + text;
    return std::nullopt;
  }
  return f;
}

Rq700Device::Rq700Device(DeviceOptions options)
    : options_(std::move(options)), memory_(options_.flashBase) {
  ApplyBoardIdentity();
}

void Rq700Device::ApplyBoardIdentity() {
  if (!options_.keepBootBlock) {
    std::uint8_t block[16];
    std::fill(std::begin(block), std::end(block), 0xFF);
    const std::size_t n = std::min<std::size_t>(options_.serial.size(), 15);
    block[0] = static_cast<std::uint8_t>(n);
    std::copy_n(options_.serial.begin(), n, block + 1);
    memory_.Poke(kBootBlockAddress, block, sizeof block);
  }
  if (options_.revision != 0) {
    const auto letter = static_cast<std::uint8_t>(options_.revision);
    memory_.Poke(kRevisionAddress, &letter, 1);
  }
}

void Rq700Device::ResetLink() {
  packet_.clear();
  inPacket_ = false;
  monitorLine_.clear();
  awaitingReply_ = 0;
}

const Fault* Rq700Device::FindFault(Fault::Kind kind, std::uint32_t n) const {
  for (const Fault& f : options_.faults) {
    if (f.kind == kind && (kind == Fault::Kind::Erase || f.n == n)) return &f;
  }
  return nullptr;
}

std::uint32_t Rq700Device::RangeStart() const {
  return options_.rangeStart.value_or(memory_.FlashBase());
}
std::uint32_t Rq700Device::RangeEnd() const { return options_.rangeEnd.value_or(kTopAddress); }

void Rq700Device::Reply(std::vector<Output>& out, std::vector<std::uint8_t> bytes,
                        std::uint32_t delayMs) {
  if (silent_) return;
  ++awaitingReply_;
  out.push_back(Output{std::move(bytes), delayMs, true, false});
}

void Rq700Device::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Output>& out) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    if (!inPacket_) {
      if (b == ':') {
        inPacket_ = true;
        packet_.clear();
      } else {
        HandleMonitorByte(b, out);
      }
      continue;
    }
    packet_.push_back(b);
    // count, addrHi, addrLo, type, data, checksum.
    if (packet_.size() >= 5 && packet_.size() == static_cast<std::size_t>(packet_[0]) + 5) {
      inPacket_ = false;
      HandlePacket(out);
    }
  }
}

void Rq700Device::HandleMonitorByte(std::uint8_t b, std::vector<Output>& out) {
  if (silent_) return;
  if (b == kCtrlD) {
    monitorLine_.clear();
    return;
  }
  if (b == kLF) return;
  if (b != kCR) {
    if (b >= 0x20 && b < 0x7F) {
      monitorLine_.push_back(static_cast<char>(b));
      out.push_back(Output{{b}, 0, false, false});
    }
    return;
  }
  std::string text = "\n\r";
  if (monitorLine_ == "g") {
    if (startAddress_) {
      text += "Starting program at 0x" + Hex8(*startAddress_) + "\n\r";
      Log("run " + Hex8(*startAddress_) + " awaiting=" + std::to_string(awaitingReply_));
    } else {
      text += "No program loaded\n\r";
      Log("run none");
    }
  } else {
    text += std::string(kBanner) + "\n\r";
  }
  monitorLine_.clear();
  out.push_back(Output{std::vector<std::uint8_t>(text.begin(), text.end()), 0, false, false});
}

std::string Rq700Device::MemoryLine(std::uint32_t address) const {
  // Never past the 64 KB page, nor past the top of the reported range.
  const std::uint64_t pageEnd = (static_cast<std::uint64_t>(address) | 0xFFFF) + 1;
  const std::uint64_t rangeEnd = std::max<std::uint64_t>(RangeEnd(), address) + 1;
  const std::uint64_t limit = std::min(pageEnd, rangeEnd);
  const auto avail = static_cast<std::uint32_t>(limit - address);

  // The longest run with a period of 1, 2 or 4 bytes becomes a fill record.
  std::uint32_t bestRun = 0;
  std::uint32_t bestPeriod = 1;
  for (const std::uint32_t p : {1u, 2u, 4u}) {
    if (avail < p) break;
    std::uint32_t run = p;
    while (run < avail && memory_.Read(address + run) == memory_.Read(address + run - p)) ++run;
    run -= run % p;
    if (run > bestRun + 8) {
      bestRun = run;
      bestPeriod = p;
    }
  }
  if (bestRun >= kMinFillRun) {
    std::uint32_t pattern = 0;
    for (std::uint32_t k = 0; k < bestPeriod; ++k) {
      pattern |= static_cast<std::uint32_t>(memory_.Read(address + k)) << (8 * k);
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*X", static_cast<int>(2 * bestPeriod), pattern);
    return Hex8(bestRun) + "." + digits;
  }
  const std::uint32_t count = std::min(avail, kLineBytes);
  std::string line = Hex8(count) + ":";
  for (std::uint32_t k = 0; k < count; ++k) line += Hex2(memory_.Read(address + k));
  return line;
}

void Rq700Device::HandlePacket(std::vector<Output>& out) {
  const std::uint8_t count = packet_[0];
  const auto offset = static_cast<std::uint16_t>(packet_[1] << 8 | packet_[2]);
  const std::uint8_t type = packet_[3];
  const std::uint8_t* data = packet_.data() + 4;
  unsigned sum = 0;
  for (const std::uint8_t b : packet_) sum += b;
  const std::uint32_t address = page_ << 16 | offset;

  char head[96];
  std::snprintf(head, sizeof head, "packet type=%02X page=%04X offset=%04X count=%u awaiting=%u",
                type, page_, offset, count, awaitingReply_ + 1);
  Log(head);
  maxAwaiting_ = std::max(maxAwaiting_, awaitingReply_ + 1);

  if ((sum & 0xFF) != 0) {
    Reply(out, {'2'});
    return;
  }
  switch (type) {
    case 0x04: {  // set page / extended linear address
      if (count != 2) {
        Reply(out, {'1', '1', kCR});
        return;
      }
      const std::uint32_t page = static_cast<std::uint32_t>(data[0]) << 8 | data[1];
      if (page > (kTopAddress >> 16)) {
        Reply(out, {'B', 'B', kCR});
        return;
      }
      page_ = page;
      Reply(out, {'0', kLF, kCR}, options_.ackDelayMs);
      return;
    }
    case 0x0B: {  // read memory
      const std::uint8_t length = count >= 1 ? data[0] : 0;
      std::string line = ":" + Hex2(length) + Hex2(static_cast<std::uint8_t>(offset >> 8)) +
                         Hex2(static_cast<std::uint8_t>(offset & 0xFF)) + "00";
      unsigned s = length + (offset >> 8) + (offset & 0xFF);
      for (std::uint32_t k = 0; k < length; ++k) {
        const std::uint8_t b = memory_.Read(static_cast<std::uint64_t>(address) + k);
        s += b;
        line += Hex2(b);
      }
      line += Hex2(static_cast<std::uint8_t>(-s));
      Reply(out, LineBytes(line));
      return;
    }
    case 0x06: {  // erase
      if (const Fault* f = FindFault(Fault::Kind::Erase, 0)) {
        Log("erase fault");
        Reply(out, {f->value}, options_.eraseMs);
        return;
      }
      memory_.EraseFlash();
      Log("erase");
      Reply(out, {'0'}, options_.eraseMs);
      return;
    }
    case 0x00: {  // program data
      const std::uint32_t number = ++programPackets_;
      if (FindFault(Fault::Kind::CloseAfter, number - 1) != nullptr) {
        Log("close");
        silent_ = true;
        out.push_back(Output{{}, 0, false, true});
        return;
      }
      if (FindFault(Fault::Kind::SilentAfter, number - 1) != nullptr) {
        Log("silent");
        silent_ = true;
        return;
      }
      std::uint8_t status = memory_.Program(address, data, count);
      if (const Fault* f = FindFault(Fault::Kind::Ack, number)) status = f->value;
      Reply(out, {status}, options_.ackDelayMs);
      if (status == '0' && count > 0 && FindFault(Fault::Kind::WeakCell, number) != nullptr) {
        const std::uint8_t weak = memory_.Read(address) ^ 0x01;
        memory_.Poke(address, &weak, 1);
        Log("weak cell at " + Hex8(address));
      }
      if (status == '0') {
        ++acks_;
        if (const Fault* f = FindFault(Fault::Kind::Stray, acks_)) {
          out.push_back(Output{{f->value}, options_.ackDelayMs, false, false});
        }
      }
      return;
    }
    case 0x05: {  // start address
      if (count != 4) {
        Reply(out, {'1'});
        return;
      }
      startAddress_ = static_cast<std::uint32_t>(data[0]) << 24 |
                      static_cast<std::uint32_t>(data[1]) << 16 |
                      static_cast<std::uint32_t>(data[2]) << 8 | data[3];
      Reply(out, {'0'}, options_.ackDelayMs);
      return;
    }
    case 0x01:  // end of image
      Reply(out, {'0'}, options_.ackDelayMs);
      return;
    case 0x10: {  // memory image information
      const std::uint32_t start = RangeStart();
      const std::uint32_t end = RangeEnd();
      Reply(out, LineBytes(Hex8(start) + " " + Hex8(end) + " " + Hex8(end - start + 1)));
      return;
    }
    case 0x11:  // one memory line
      if (FindFault(Fault::Kind::CloseAfterLines, memoryLines_++) != nullptr) {
        Log("close");
        silent_ = true;
        out.push_back(Output{{}, 0, false, true});
        return;
      }
      Reply(out, LineBytes(MemoryLine(address)));
      return;
    default:
      Reply(out, {'E'});
      return;
  }
}

}  // namespace tarnvale::sim
