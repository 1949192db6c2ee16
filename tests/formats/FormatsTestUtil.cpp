#include "FormatsTestUtil.h"

#include <algorithm>
#include <stdexcept>

#include "support/TestEnv.h"

namespace tarnvale::test {

BoardInfoRecord GoodBoardRecord() {
  BoardInfoRecord r;
  r.SetCpuRevision('C');
  r.SetIoRevision('B');
  r.SetSerial(BoardInfoRecord::kControllerSerial, "CTRL01");
  r.SetSerial(BoardInfoRecord::kCpuSerial, "CPU123456789ABC");  // 15 characters
  r.SetSerial(BoardInfoRecord::kIoSerial, "IO7");
  return r;
}

ResultCode Load(IntelHexFile& file) {
  ResultCode r = file.OpenFile();
  if (r == 0) r = file.AllocateImage();
  return r == 0 ? file.LoadFile() : r;
}

ResultCode LoadSRec(MotorolaSRecFile& file, std::uint32_t regionOneBase, std::uint32_t regionTwoBase,
                    std::uint32_t displacement) {
  ResultCode r = file.OpenFile();
  if (r == 0) r = file.AllocateImage();
  return r == 0 ? file.LoadSRecords(regionOneBase, regionTwoBase, displacement) : r;
}

std::vector<Packet> DrainStream(IntelHexFile& file, bool keepEmpty) {
  std::vector<Packet> out;
  Packet p;
  for (std::size_t calls = 0; !file.IsFinished(); ++calls) {
    if (calls >= 5'000'000) throw std::runtime_error("stream does not finish");
    file.GetNextPacket(p);
    if (keepEmpty || !p.empty()) out.push_back(p);
  }
  return out;
}

std::string ToHex(std::span<const std::uint8_t> bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : bytes.first(std::min(n, bytes.size()))) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 0xF]);
  }
  return s;
}

std::vector<std::uint8_t> Slice(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t n) {
  const auto part = bytes.subspan(offset, n);
  return {part.begin(), part.end()};
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
         (std::uint32_t{bytes[offset + 3]} << 24);
}

std::filesystem::path WriteTemp(const std::string& name, const std::string& text) {
  const auto path = MakeTempDir("fmt") / name;
  WriteFileBytes(path, text);
  return path;
}

}  // namespace tarnvale::test
