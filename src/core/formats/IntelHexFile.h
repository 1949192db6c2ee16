#pragma once
// Intel HEX image files and the stream of programming packets.
//
// An IntelHexFile reads a HEX file into an in-memory image of the target's
// address range and turns the image into the packets a controller or the
// programmer box accepts. Every file object owns its image; nothing is shared
// between objects, so two runs never disturb each other.
//
// Calling order of every workflow:
//   IntelHexFile f(path, base, end, endWithoutStart, lanes);
//   OpenFile(); AllocateImage(); LoadFile(); GetRecordCount();
//   while (!f.IsFinished()) { f.GetNextPacket(packet); if (!packet.empty()) send }
// Each step's nonzero result ends the workflow with that code.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/formats/HexRecord.h"
#include "core/formats/TokenReader.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

class Operator;

// Data a reader left out because it lies outside the image. The load still
// succeeds (images are often built from files that carry more than one
// device's data), but the person must be told what was not programmed.
struct DroppedData {
  std::uint64_t bytes = 0;    // data bytes left out
  std::uint64_t records = 0;  // records that lost at least one byte
  std::uint64_t lowest = 0;   // lowest and highest address left out, as the
  std::uint64_t highest = 0;  // reader saw it; meaningful when bytes != 0

  bool Any() const { return bytes != 0; }
  // One record's share: `count` bytes between `first` and `last` inclusive.
  void AddRecord(std::uint64_t first, std::uint64_t last, std::uint64_t count);
};

// "ignored 512 bytes in 1 record at 0x00040000-0x000401FF (outside the image
// 0x00000000-0x00021FFF)"; empty when nothing was dropped.
std::string DroppedDataText(const DroppedData& dropped, std::uint32_t imageBase,
                            std::uint32_t imageEnd);

class IntelHexFile {
 public:
  // A full 8 MB flash image is held at once; larger ranges are refused.
  static constexpr std::uint32_t kMaxImageSize = 0x800000;

  // Stream states of the base class.
  static constexpr std::uint8_t kStateData = 1;
  static constexpr std::uint8_t kStateStart = 2;
  static constexpr std::uint8_t kStateEnd = 3;
  static constexpr std::uint8_t kStateFinished = 4;

  // `endWithoutStart` nonzero: the stream ends without a start address
  // packet (flash programming); zero: it sends one (a RAM load).
  // The three option bytes are kept for subclasses.
  IntelHexFile(std::filesystem::path path, std::uint32_t baseAddress, std::uint32_t endAddress,
               std::uint32_t endWithoutStart, std::uint8_t lanes, std::uint8_t option1 = 0,
               std::uint8_t option2 = 0, std::uint8_t option3 = 0);
  virtual ~IntelHexFile();
  IntelHexFile(const IntelHexFile&) = delete;
  IntelHexFile& operator=(const IntelHexFile&) = delete;

  // Messages that must reach the person ("fclose failed", record errors of
  // the boot image) go here; without an operator they are not shown.
  void SetOperator(Operator* op) { operator_ = op; }

  // --- virtual operations -------------------------------------------------
  // 0, 2 (lanes not 1, 2 or 4) or 3 (range empty, reversed or over 8 MB).
  // The image is filled with 0xFF. A size that is not a multiple of the lane
  // count is rounded up to whole lane steps; the padding stays 0xFF.
  virtual ResultCode AllocateImage();
  // Reads the whole file into the image, then counts the stream. 10 for a
  // file without data records (an empty image is never programmed).
  virtual ResultCode LoadFile();
  virtual bool IsFinished() const;
  virtual std::uint32_t GetRecordCount() const { return recordCount_; }
  // Part of the interface but not used by any workflow: does nothing.
  virtual ResultCode WriteNextRecord() { return rc::kFileOk; }
  // The next packet of the stream into `packet`; an empty packet means
  // nothing to send this time. Always returns 0.
  virtual ResultCode GetNextPacket(Packet& packet);

  // --- file access --------------------------------------------------------
  // 0, or 4 when it cannot be opened or is not a regular file within the
  // image size limit (a FIFO, a device, a folder); Failure() says why.
  ResultCode OpenFile();
  // Reads from `file` instead of opening the path (e.g. bytes read once and
  // opened with fmemopen); the object takes it over and closes it. 0, or 4
  // for a null file.
  ResultCode OpenStream(std::FILE* file);
  ResultCode CloseFile();  // 18 when not open; "fclose failed" and 19; else 0
  bool IsOpen() const { return file_ != nullptr; }
  // Goes back to the start of the open file.
  bool Rewind();
  // True when only whitespace is left; ends every reading loop.
  bool AtEndOfFile();
  // The next record into CurrentRecord(): 0, 8 or 9 (see ParseHexRecord).
  // At the end of the file, and for a token longer than any record can be,
  // 8. A failed read of the file gives 9.
  ResultCode ReadRecord();
  const HexRecord& CurrentRecord() const { return record_; }
  // True when a read of the file failed (as opposed to reaching its end).
  bool ReadFailed() const { return reader_.ReadFailed(); }
  // Notes the current record as the cause of `code` and returns the code.
  ResultCode RecordFailed(ResultCode code, std::string reason);
  // A file without a single data byte has nothing to program: 10 ("Data not
  // found in Hex File"), noted as "no data records", as the scan says it.
  ResultCode NoDataFailure();
  // Line and reason of the record that made the last read fail (line 0 when
  // no record was at fault, e.g. the file would not open).
  const FileFailure& Failure() const { return failure_; }

  // --- image --------------------------------------------------------------
  const std::filesystem::path& Path() const { return path_; }
  std::uint32_t BaseAddress() const { return baseAddress_; }
  std::uint32_t EndAddress() const { return endAddress_; }
  std::uint32_t Size() const { return size_; }
  std::uint8_t Lanes() const { return lanes_; }
  std::uint32_t StartAddress() const { return startAddress_; }
  bool HasImage() const { return laneSize_ != 0; }

  // The byte at image offset `offset`; 0xFF (blank flash) outside the image.
  std::uint8_t ImageByte(std::uint64_t offset) const;
  // Stores a byte at an image offset; offsets outside the image are dropped.
  void SetImageByte(std::uint64_t offset, std::uint8_t value);
  // Stores `n` bytes (one record's) for absolute addresses from `address`;
  // the part outside the image is dropped and noted in Dropped().
  void StoreAtAddress(std::uint64_t address, const std::uint8_t* bytes, std::size_t n);
  // What the last load left out; DroppedText() says it in words (empty when
  // nothing was left out).
  const DroppedData& Dropped() const { return dropped_; }
  std::string DroppedText() const { return DroppedDataText(dropped_, baseAddress_, endAddress_); }
  // The whole image in address order (size bytes), for checks and tools.
  std::vector<std::uint8_t> ImageBytes() const;

 protected:
  struct StreamPosition {
    std::uint8_t packetState = kStateData;
    std::uint32_t laneIndex = 0;
    std::uint8_t boundaryAnnounced = 0;
  };

  // Reads every record into the image with Intel HEX addressing.
  ResultCode ReadImage();
  // One step of the base stream. Fills `out` when given; returns whether the
  // step produced a packet.
  bool StepStream(StreamPosition& s, Packet* out) const;
  // Number of packets the base stream will produce from its current position.
  std::uint32_t CountStream() const;
  void Tell(const std::string& text) const;
  // The next raw token of the open file, for readers of other record forms.
  TokenReader::Status NextToken(std::string_view& token);
  bool TokenReadFailed() const { return reader_.ReadFailed(); }

  // The image lanes: lane l holds offsets o with o mod L == l at o / L.
  std::vector<std::uint8_t>& Lane(unsigned l) { return image_[l]; }
  const std::vector<std::uint8_t>& Lane(unsigned l) const { return image_[l]; }
  std::uint32_t LaneSize() const { return laneSize_; }

  std::filesystem::path path_;
  std::uint32_t baseAddress_;
  std::uint32_t endAddress_;
  std::uint32_t size_;
  std::uint32_t recordCount_ = 0;
  std::uint32_t startAddress_;
  std::uint8_t lanes_;
  std::uint32_t endWithoutStart_;
  std::array<std::uint8_t, 3> options_;
  StreamPosition stream_;
  DroppedData dropped_;  // reset by each load

 private:
  std::FILE* file_ = nullptr;
  TokenReader reader_;
  HexRecord record_;
  FileFailure failure_;
  std::array<std::vector<std::uint8_t>, 4> image_;
  std::uint32_t laneSize_ = 0;
  unsigned laneShift_ = 0;
  Operator* operator_ = nullptr;
};

// The one walk over the records of an open Intel HEX file, from its start;
// every reader of the family loads through it.
//   base(rec)        the base an extended address record (02 or 04) sets
//   data(base, rec)  each data record; false ends the walk early (result 0)
//   other(rec)       every other type (01, 03, 05, ...): 0 to go on, or the
//                    code that ends the walk
// 18 when the file is not open, 9 when it cannot go back to its start, the
// reader's code for a record it cannot parse, 9 for a file that could not be
// read to its end or that holds no end-of-file record (a copy cut short:
// noted at the line of its last record), 10 for a file without any record,
// else 0. Records after an end record are still read.
template <typename Base, typename Data, typename Other>
ResultCode WalkHexRecords(IntelHexFile& file, Base base, Data data, Other other) {
  if (!file.IsOpen()) return rc::kFileNotOpen;
  if (!file.Rewind()) return rc::kErrorInHexFile;
  std::uint64_t current = 0;
  bool endSeen = false;
  bool anyRecord = false;
  while (!file.AtEndOfFile()) {
    if (const ResultCode r = file.ReadRecord(); r != rc::kFileOk) return r;
    anyRecord = true;
    const HexRecord& rec = file.CurrentRecord();
    if (rec.type == hex_type::kData) {
      if (!data(current, rec)) return rc::kFileOk;
    } else if (rec.type == hex_type::kExtendedSegment || rec.type == hex_type::kExtendedLinear) {
      current = base(rec);
    } else {
      endSeen = endSeen || rec.type == hex_type::kEndOfFile;
      if (const ResultCode r = other(rec); r != rc::kFileOk) return r;
    }
  }
  if (file.ReadFailed()) return file.RecordFailed(rc::kErrorInHexFile, "the file could not be read");
  // An empty file is said to be empty rather than cut short.
  if (!anyRecord) return file.NoDataFailure();
  if (!endSeen) return file.RecordFailed(rc::kErrorInHexFile, kNoEndRecord);
  return rc::kFileOk;
}

// "record type 0x07": the reason given for a type a reader does not take.
std::string RecordTypeText(std::uint8_t type);

// What ScanHexFile learns about a HEX file before an image is built.
struct HexScan {
  std::uint32_t lowest = 0xFFFFFFFF;   // lowest extended base (not data address)
  std::uint32_t highest = 0xFFFFFFFF;  // highest extended base + end of last data record - 1
  std::uint8_t mode = 0;               // last extended record: 0 none, 1 segment, 2 linear
  std::optional<std::uint32_t> start;  // a type 05 record's bytes, first byte least significant
  FileFailure failure;                 // where a record error stopped the scan
};

// Measures a HEX file. 4 when it cannot be opened as OpenFile would (the
// reason in failure; lowest and highest stay 0xFFFFFFFF); a record error,
// or a file without an end-of-file record, is returned at once with lowest
// and highest left as they were; otherwise 0.
ResultCode ScanHexFile(const std::filesystem::path& path, HexScan& scan);
// The same for the text of an open stream, read from its current position;
// the stream stays open. A null stream gives 4.
ResultCode ScanHexStream(std::FILE* file, HexScan& scan);

}  // namespace tarnvale
