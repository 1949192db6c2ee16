// The Universal Programmer's image readers (80386EX boot flash, PIC18F252,
// dsPIC30F) and their packet streams. The first input byte picks the reader;
// the rest is the file.
#include <memory>

#include "core/formats/ProgrammerHexFiles.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

namespace {

BoardInfoRecord Board() {
  BoardInfoRecord r;
  r.SetCpuRevision('C');
  r.SetIoRevision('B');
  r.SetSerial(BoardInfoRecord::kControllerSerial, "CTRL01");
  r.SetSerial(BoardInfoRecord::kCpuSerial, "CPU123456789ABC");
  r.SetSerial(BoardInfoRecord::kIoSerial, "IO7");
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile scratch("chip.hex");
  if (size < 1) return 0;
  const auto& path = scratch.Write(data + 1, size - 1);
  std::unique_ptr<IntelHexFile> file;
  switch (data[0] % 3) {
    case 0: file = std::make_unique<Boot386IntelHexFile>(path, Board()); break;
    case 1: file = std::make_unique<PIC18FIntelHexFile>(path, 0, 0x7FFF); break;
    default: file = std::make_unique<PIC30FIntelHexFile>(path, 0, 0x7FFF); break;
  }
  if (file->OpenFile() != rc::kFileOk || file->AllocateImage() != rc::kFileOk) return 0;
  if (file->LoadFile() == rc::kFileOk) {
    Packet packet;
    for (std::uint32_t steps = 0; !file->IsFinished(); ++steps) {
      TARNVALE_FUZZ_CHECK(steps < 1'000'000);
      file->GetNextPacket(packet);
      TARNVALE_FUZZ_CHECK(packet.size() <= kMaxPacketSize);
    }
  }
  file->CloseFile();
  return 0;
}
