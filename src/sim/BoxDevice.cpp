#include "sim/BoxDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/programmer/BoxCommands.h"
#include "core/protocol/Packet.h"
#include "sim/Tn835Device.h"

namespace tarnvale::sim {
namespace {

enum class Chip { Catalyst, St, Amd, Spansion };

Chip ChipFor(char revision, bool amd) {
  if (revision == 'A' || revision == 'B') return Chip::Catalyst;
  if (revision == 'C') return amd ? Chip::Amd : Chip::St;
  return Chip::Spansion;
}

std::array<std::uint16_t, 6> WordsOf(Chip chip) {
  switch (chip) {
    case Chip::Catalyst: return {0x3131, 0xBDBD, 0x3131, 0xBDBD, 0x3131, 0xBDBD};
    case Chip::St: return {0x2020, 0xADAD, 0x2020, 0xADAD, 0x2020, 0xADAD};
    case Chip::Amd: return {0x0101, 0xADAD, 0x0101, 0xADAD, 0x0101, 0xADAD};
    case Chip::Spansion: return {0x0001, 0x007E, 0x0001, 0x0002, 0x0001, 0x0001};
  }
  return {};
}

bool ParseHex(const std::string& s, std::uint32_t& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(s.c_str(), &end, 16);
  if (*end != '\0' || v > 0xFFFFFFFFul) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

std::vector<std::uint8_t> FramedRecord(std::uint16_t address, std::uint8_t type,
                                       const std::vector<std::uint8_t>& data) {
  return BuildPacket(static_cast<std::uint8_t>(data.size()), address, type, data);
}

bool ParseStuck(const std::string& text, std::pair<int, bool>& out, std::string& error) {
  const auto eq = text.find('=');
  const int pin = eq == std::string::npos ? -1 : PinByName(text.substr(0, eq));
  const std::string level = eq == std::string::npos ? "" : text.substr(eq + 1);
  if (pin < 0 || (level != "0" && level != "1")) {
    error = "--stuck wants PIN=0 or PIN=1 with a pin name such as A7: " + text;
    return false;
  }
  out = {pin, level == "1"};
  return true;
}

bool ParseShort(const std::string& text, std::pair<int, int>& out, std::string& error) {
  const auto comma = text.find(',');
  const int a = comma == std::string::npos ? -1 : PinByName(text.substr(0, comma));
  const int b = comma == std::string::npos ? -1 : PinByName(text.substr(comma + 1));
  if (a < 0 || b < 0 || a == b) {
    error = "--short wants two different pin names, PIN,PIN: " + text;
    return false;
  }
  out = {a, b};
  return true;
}

bool ParseRamFail(const std::string& text, BoxOptions& o, std::string& error) {
  const auto eq = text.find('=');
  const auto comma = text.find(',', eq == std::string::npos ? 0 : eq);
  std::uint32_t addr = 0, d1 = 0, d2 = 0;
  if (eq == std::string::npos || comma == std::string::npos || !ParseHex(text.substr(0, eq), addr) ||
      !ParseHex(text.substr(eq + 1, comma - eq - 1), d1) || !ParseHex(text.substr(comma + 1), d2) ||
      d1 > 0xFFFF || d2 > 0xFFFF) {
    error = "--ram-fail wants ADDR=D1,D2 in hex: " + text;
    return false;
  }
  o.ramFailAddress = addr;
  o.ramFailData1 = static_cast<std::uint16_t>(d1);
  o.ramFailData2 = static_cast<std::uint16_t>(d2);
  return true;
}

bool ParsePic30Id(const std::string& text, BoxOptions& o, std::string& error) {
  const auto colon = text.find(':');
  std::uint32_t dev = 0, rev = 0;
  if (colon == std::string::npos || !ParseHex(text.substr(0, colon), dev) ||
      !ParseHex(text.substr(colon + 1), rev) || dev > 0xFFFF || rev > 0xFFFF) {
    error = "--pic30-id wants DEV:REV, two hex words: " + text;
    return false;
  }
  o.pic30Device = static_cast<std::uint16_t>(dev);
  o.pic30Revision = static_cast<std::uint16_t>(rev);
  return true;
}

bool ParsePic18Id(const std::string& text, BoxOptions& o, std::string& error) {
  if (text.empty() || text.size() > 8 || text.size() % 2 != 0) {
    error = "--pic18-id wants one to four hex bytes, e.g. 84000400: " + text;
    return false;
  }
  std::array<std::uint8_t, 4> id{};
  for (std::size_t i = 0; i < text.size() / 2; ++i) {
    std::uint32_t v = 0;
    if (!ParseHex(text.substr(2 * i, 2), v)) {
      error = "--pic18-id wants hex bytes: " + text;
      return false;
    }
    id[i] = static_cast<std::uint8_t>(v);
  }
  o.pic18Id = id;
  return true;
}

BoxDevice::BoxDevice(BoxOptions options) : options_(std::move(options)) {
  pic18_.id = options_.pic18Id;
  pic18_.badCell = options_.eepromBad;
  pic30_.SetIdentity(options_.pic30Device, options_.pic30Revision);
  if (!options_.bootImage.empty()) boot_.Load(options_.bootImage);
  if (options_.recordSize == 0 || options_.recordSize > 250) options_.recordSize = 32;
}

PicChip* BoxDevice::SelectedChip() {
  if (target_ == 2) return &pic18_;
  if (target_ == 3) return &pic30_;
  return nullptr;
}

void BoxDevice::ReadStream(std::vector<SimOutput>& out) {
  // The boot flash goes out from 0x3FFC000 (record addresses 0xC000...),
  // the PIC18F252's EEPROM from 0, the dsPIC30F's from 0x7FFC00 (0xFC00...).
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::uint16_t first = 0;
  if (target_ == 4) {
    bytes = boot_.Bytes().data();
    size = BootFlash::kSize;
    first = 0xC000;
  } else if (PicChip* chip = SelectedChip()) {
    bytes = chip->Eeprom().data();
    size = chip->Eeprom().size();
    first = target_ == 3 ? 0xFC00 : 0;
  } else {
    Status(out, 'E');
    return;
  }
  std::uint32_t records = 0;
  for (std::size_t off = 0; off < size; off += options_.recordSize, ++records) {
    if (options_.readStopAfter && records >= *options_.readStopAfter) break;
    const std::size_t n = std::min<std::size_t>(options_.recordSize, size - off);
    out.push_back(SimOutput{FramedRecord(static_cast<std::uint16_t>(first + off), 0x00,
                                         std::vector<std::uint8_t>(bytes + off, bytes + off + n)),
                            0, false, false});
  }
  if (!out.empty()) out.back().reply = true;
}

std::uint8_t BoxDevice::ProgramPacket(std::uint8_t type, std::uint16_t address,
                                      const std::uint8_t* data, std::size_t count) {
  if (PicChip* chip = SelectedChip()) return chip->Packet(type, address, data, count);
  if (target_ != 4) return '0';
  switch (type) {
    case 0x04:
      if (count != 2) return 'A';
      bootBase_ = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
      return '0';
    case 0x00:
      // A bit that is already 0 cannot come back: the write fails as on
      // the chip when the area was not erased.
      return boot_.Program(bootBase_ + address, data, count) ? '0' : '4';
    default:
      return '0';
  }
}

void BoxDevice::ResetLink() {
  packet_.clear();
  inPacket_ = false;
}

BoardInfoRecord BoxDevice::BoardInfo(std::uint8_t algorithmRevision) const {
  BoardInfoRecord r;
  r.SetCpuRevision(options_.cpuRevision);
  r.SetIoRevision(options_.ioRevision);
  r.SetSerial(BoardInfoRecord::kControllerSerial, options_.serial);
  r.SetSerial(BoardInfoRecord::kCpuSerial, options_.cpuSerial);
  r.SetSerial(BoardInfoRecord::kIoSerial, options_.ioSerial);
  // A programmed boot flash carries the board's identification in its last
  // 80 bytes; the box reports that one.
  constexpr std::uint32_t kRevisions = 16366, kSerials = 16304;
  const std::uint8_t cpuLetter = boot_.At(kRevisions), ioLetter = boot_.At(kRevisions + 1);
  if (cpuLetter >= 'A' && cpuLetter <= 'Z' && ioLetter >= 'A' && ioLetter <= 'Z') {
    r.SetCpuRevision(static_cast<char>(cpuLetter));
    r.SetIoRevision(static_cast<char>(ioLetter));
    for (std::size_t k = 0; k < 3; ++k) {
      const std::size_t field = BoardInfoRecord::kControllerSerial + 16 * k;
      for (std::size_t i = 0; i < 16; ++i) r.bytes[field + i] = boot_.At(static_cast<std::uint32_t>(kSerials + 16 * k + i));
    }
  }
  const char algo = algorithmRevision >= 'A' && algorithmRevision <= 'Z'
                        ? static_cast<char>(algorithmRevision)
                        : options_.cpuRevision;
  // The algorithm of another chip family reads nothing sensible: an
  // erased-bus pattern, as a wrong revision setting gives on a real board.
  const Chip fitted = ChipFor(options_.cpuRevision, options_.amdFlash);
  const Chip algoChip = ChipFor(algo, options_.amdFlash);
  const bool sameFamily = fitted == algoChip || ((fitted == Chip::St || fitted == Chip::Amd) &&
                                                  (algoChip == Chip::St || algoChip == Chip::Amd));
  const auto words = sameFamily ? WordsOf(fitted) : std::array<std::uint16_t, 6>{
                                                        0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  for (std::size_t i = 0; i < words.size(); ++i) r.SetFlashIdWord(i, words[i]);
  return r;
}

PinImage BoxDevice::SampleOf(const PinImage& driven) const {
  PinImage s = driven;
  for (const auto& [a, b] : options_.shorts) {
    const bool level = s.Level(a) && s.Level(b);
    s.SetLevel(a, level);
    s.SetLevel(b, level);
  }
  for (const auto& [pin, level] : options_.stuck) s.SetLevel(pin, level);
  return s;
}

void BoxDevice::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<SimOutput>& out) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    if (!inPacket_) {
      if (b == kPacketStart) {
        inPacket_ = true;
        packet_.clear();
      }
      continue;
    }
    packet_.push_back(b);
    if (packet_.size() >= 5 && packet_.size() == static_cast<std::size_t>(packet_[0]) + 5) {
      inPacket_ = false;
      HandlePacket(out);
    }
  }
}

void BoxDevice::Status(std::vector<SimOutput>& out, std::uint8_t code) {
  out.push_back(SimOutput{{code}, 0, true, false});
}

void BoxDevice::RamStream(std::vector<SimOutput>& out, bool test, std::uint32_t start,
                          std::uint32_t length) {
  const std::uint8_t type = test ? box_type::kTestRam : box_type::kLoadRam;
  auto record = [&](std::uint8_t state, std::uint8_t code, std::uint32_t value, std::uint16_t d1,
                    std::uint16_t d2, std::uint32_t delay) {
    std::vector<std::uint8_t> data = {state, code};
    for (int k = 0; k < 4; ++k) data.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
    data.push_back(static_cast<std::uint8_t>(d1));
    data.push_back(static_cast<std::uint8_t>(d1 >> 8));
    data.push_back(static_cast<std::uint8_t>(d2));
    data.push_back(static_cast<std::uint8_t>(d2 >> 8));
    out.push_back(SimOutput{FramedRecord(0, type, data), delay, false, false});
  };
  constexpr std::uint32_t kSteps = 20;
  const bool fails = test && options_.ramFailAddress && *options_.ramFailAddress >= start &&
                     *options_.ramFailAddress - start < length;
  // A failing test stops where the address lies in the bank.
  const std::uint32_t lastStep =
      fails ? static_cast<std::uint32_t>(std::uint64_t{*options_.ramFailAddress - start} * kSteps / length)
            : kSteps;
  for (std::uint32_t k = 0; k < lastStep; ++k) {
    record(1, '0', k * 100 / kSteps, 0, 0, options_.ramMs * k / kSteps);
  }
  const std::uint32_t endDelay = options_.ramMs * lastStep / kSteps;
  if (fails) {
    record(0, 'D', *options_.ramFailAddress, options_.ramFailData1, options_.ramFailData2, endDelay);
  } else {
    record(0, '0', 100, 0, 0, endDelay);
  }
  out.back().reply = true;
}

void BoxDevice::HandlePacket(std::vector<SimOutput>& out) {
  // A packet with a bad checksum is answered "Bad Check Sum" and not counted.
  unsigned sum = 0;
  for (std::uint8_t b : packet_) sum += b;
  if ((sum & 0xFF) != 0) {
    Status(out, '2');
    return;
  }
  ++packets_;
  if (log_) {
    char line[96];
    std::snprintf(line, sizeof line, "packet %u target %d type 0x%02X address 0x%02X%02X count %u",
                  static_cast<unsigned>(packets_), target_, packet_[3], packet_[1], packet_[2],
                  static_cast<unsigned>(packet_[0]));
    log_(line);
  }
  if (silent_) return;
  for (const Fault& f : options_.faults) {
    if (f.kind == Fault::Kind::CloseAfter && packets_ > f.n) {
      silent_ = true;
      out.push_back(SimOutput{{}, 0, false, true});
      return;
    }
    if (f.kind == Fault::Kind::SilentAfter && packets_ > f.n) {
      silent_ = true;
      return;
    }
  }
  const std::uint8_t count = packet_[0];
  const std::uint16_t address = static_cast<std::uint16_t>(packet_[1] << 8 | packet_[2]);
  const std::uint8_t type = packet_[3];
  const std::uint8_t* data = packet_.data() + 4;
  const std::size_t before = out.size();
  // With the cable off only the box itself is there to answer.
  if (options_.noJtag && (target_ == 4 || target_ == 6) && type != box_type::kSelectTarget &&
      type != box_type::kVersion) {
    return;
  }

  if (target_ == 6 && tn835_ != nullptr && tn835_->HandlePacket(type, address, data, count, out)) {
    // answered by the TN835 CPU
  } else switch (type) {
    case box_type::kSelectTarget: {
      const int t = address & 0xFF;
      const bool known = t == 2 || t == 3 || t == 4 || t == 6;
      if (known) target_ = t;
      Status(out, known ? '0' : 'B');
      break;
    }
    case box_type::kVersion:
      out.push_back(SimOutput{FramedRecord(0, box_type::kVersion,
                                           std::vector<std::uint8_t>(options_.version.begin(),
                                                                     options_.version.end())),
                              0, true, false});
      break;
    case box_type::kReadId: {
      if (PicChip* chip = SelectedChip()) {
        // The PIC chips answer with their four ID bytes in a framed record.
        out.push_back(SimOutput{FramedRecord(0, box_type::kReadId,
                                             std::vector<std::uint8_t>(chip->id.begin(), chip->id.end())),
                                0, true, false});
        break;
      }
      const std::uint32_t id =
          options_.jtagId.value_or(target_ == 6 ? kTn835JtagId : kCpu386JtagId);
      out.push_back(SimOutput{FramedRecord(0, box_type::kReadId,
                                           {static_cast<std::uint8_t>(id >> 24),
                                            static_cast<std::uint8_t>(id >> 16),
                                            static_cast<std::uint8_t>(id >> 8),
                                            static_cast<std::uint8_t>(id)}),
                              0, true, false});
      break;
    }
    case box_type::kBoardInfo: {
      const BoardInfoRecord r = BoardInfo(static_cast<std::uint8_t>(address >> 8));
      out.push_back(SimOutput{FramedRecord(0, box_type::kBoardInfo,
                                           std::vector<std::uint8_t>(r.bytes.begin(), r.bytes.end())),
                              0, true, false});
      break;
    }
    case box_type::kLineTest:
      lineTest_ = (address >> 8) != 0 ? static_cast<std::uint8_t>(address & 0xFF) : 0;
      Status(out, '0');
      break;
    case box_type::kDrivePins:
    case box_type::kDriveAndSample: {
      if (count != kPinImageSize) {
        Status(out, 'A');
        break;
      }
      PinImage next;
      std::copy(data, data + kPinImageSize, next.bytes.begin());
      if (type == box_type::kDriveAndSample) {
        const PinImage s = SampleOf(driven_);
        out.push_back(SimOutput{FramedRecord(0, box_type::kDriveAndSample,
                                             std::vector<std::uint8_t>(s.bytes.begin(), s.bytes.end())),
                                0, true, false});
      }
      driven_ = next;
      ++driveImages_;
      break;
    }
    case box_type::kLoadRam:
    case box_type::kTestRam: {
      if (count != 9) {
        Status(out, 'A');
        break;
      }
      auto le32 = [data](int at) {
        return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
               static_cast<std::uint32_t>(data[at + 2]) << 16 |
               static_cast<std::uint32_t>(data[at + 3]) << 24;
      };
      const std::uint32_t start = le32(0), length = le32(4);
      if (length == 0 || start >= 5 * kRamBankSize) {
        Status(out, 'B');
        break;
      }
      RamStream(out, type == box_type::kTestRam, start, length);
      break;
    }
    case box_type::kReadMemory:
      ReadStream(out);
      break;
    case box_type::kBlankCheck: {
      const PicChip* chip = SelectedChip();
      const bool blank = chip ? chip->Blank() : target_ == 4 ? boot_.Blank() : true;
      Status(out, blank ? '0' : 'C');
      break;
    }
    case box_type::kErase:
      if (PicChip* chip = SelectedChip()) chip->Erase();
      if (target_ == 4) boot_.Erase();
      Status(out, '0');
      break;
    case box_type::kFillEeprom: {
      if (target_ != 2 || count != 2) {
        Status(out, target_ != 2 ? 'E' : 'A');
        break;
      }
      const auto seed = static_cast<std::uint16_t>(data[0] | data[1] << 8);
      const auto pattern = EepromPattern(seed, pic18_.Eeprom().size());
      for (std::size_t i = 0; i < pattern.size(); ++i) {
        pic18_.WriteEeprom(static_cast<std::uint32_t>(i), pattern[i]);
      }
      eepromSeed_ = seed;
      Status(out, '0');
      break;
    }
    case box_type::kTestEeprom: {
      if (target_ != 2) {
        Status(out, 'E');
        break;
      }
      // Without a fill there is nothing to test against.
      const bool good = eepromSeed_ &&
                        pic18_.Eeprom() == EepromPattern(*eepromSeed_, pic18_.Eeprom().size());
      Status(out, good ? '0' : 'D');
      break;
    }
    case box_type::kPic18ProgramData:
    case 0x00:
    case 0x01:
    case 0x04:
    case 0x05:
      Status(out, ProgramPacket(type, address, data, count));
      break;
    default:
      Status(out, 'E');
      break;
  }
  for (const Fault& f : options_.faults) {
    if (f.kind == Fault::Kind::Stray && f.n == packets_ && out.size() > before) {
      out.push_back(SimOutput{{f.value}, out.back().delayMs, false, false});
    }
  }
}

}  // namespace tarnvale::sim
