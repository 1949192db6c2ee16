#pragma once
// The device targets and everything the program knows about each of them.
//
// A target is the device a command addresses: the box itself, a controller on
// the primary port, or a chip the box reaches. The same numbers travel in the
// select-target packet and name the memory types of the programming and
// read-back runs, so they never change. Every fact that differs between
// targets lives in one row of the table below; adding a device family means
// adding an enumerator, a row and (when it has its own file form) a reader.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/formats/BoardInfoRecord.h"

namespace tarnvale {

class Operator;

class IntelHexFile;

enum class Target : std::uint8_t {
  Box = 0,          // the Universal Programmer itself
  Controller = 1,   // RQ700-series controller on the primary port
  Pic18F252 = 2,    // PIC18F252 through the box
  DsPic30F = 3,     // dsPIC30F through the box
  CpuBoard386 = 4,  // 80386EX CPU board (boot flash) through the box's JTAG
  Tn835 = 5,        // TN835 controller images on the primary port
  Tn835Jtag = 6,    // TN835 CPU through the box's JTAG
};

// Which of the two links reaches a target.
enum class PortRole { Primary, Programmer };

// The address range a run loads and the byte lanes it interleaves.
struct LoadRange {
  std::uint32_t base = 0;
  std::uint32_t end = 0;
  std::uint8_t lanes = 1;
};

// What a reader needs to open an image for a target.
struct ImageRequest {
  std::filesystem::path path;
  LoadRange range;
  bool programFlash = true;  // false: a memory load, which ends with a start address packet
  int layoutMode = 0;        // 0: the target's own default
  BoardInfoRecord boardInfo; // the board identification written into a boot image
  Operator* op = nullptr;    // told what a reader finds worth a message (null: nobody)
};

// How a device's answer to the read-ID request is decoded.
enum class IdForm : std::uint8_t {
  None,   // no ID of its own: the reply only tells that something answered
  Pic18,  // revision in bits 0-4 of the first byte, device ID from the third and the first's top bits
  Pic30,  // two little-endian words: the device ID, then the revision
};

// Where a programming run places an image of the device.
enum class ImagePlacement : std::uint8_t {
  Fixed,           // the row's range
  FromFileLowest,  // from the file's lowest address (0 without extended records) to the
                   // top of the flash; a memory load ends at the file's highest address
};

// How the box reads a device's memory back into a text file (the boot flash,
// the PIC EEPROMs). `end` 0: the device has no such read-back.
struct ReadBackForm {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::uint16_t firstPacket = 0;  // address field of the read request
  bool settles = false;           // the box needs the read-back settle time before the first record
  // Records carry 16-bit addresses: on top of this base, or (none) of the
  // 64 KB page the read starts in.
  std::optional<std::uint32_t> recordBase;
  bool checksumAtTop = false;     // the record ending at `end` holds the image's checksum
  std::string_view fileName;      // the default text file, in the working folder
};

// Makes the (not yet opened) file object that reads a target's images.
using ImageReaderFactory = std::unique_ptr<IntelHexFile> (*)(const ImageRequest&);

struct TargetInfo {
  Target target;
  std::uint8_t number;           // on the wire and in the settings
  std::string_view cliName;      // e.g. "pic18"
  std::string_view description;
  PortRole role;
  bool selectPacket;             // the box is told to address it
  LoadRange range;               // default load range of the programming run
  std::uint32_t window;          // packets sent ahead of their acknowledgements
  std::uint32_t progressStep;    // acknowledgements per progress event
  std::uint32_t packetPauseMs;   // pause after writing each packet
  int layoutMode;                // default layout of the reader (TN835 images), else 0
  ImageReaderFactory reader;     // null: the target has no image of its own
  std::string_view fileFilter;   // file dialog filter of a programming run
  std::string_view dialogTitle;  // title of the programming dialog
  // Read back by the controller's own memory dump (0x10 range query, 0x11
  // memory lines into a binary file): the read-back dialog then shows the
  // dump's texts and bytes saved and offers "Retry". Targets without it are
  // read by the box's reading routines.
  bool readsByMemoryDump;
  ImagePlacement placement;      // where a programming run puts the image
  bool needsBoardInfo;           // its image is stamped with the board's identification
  // Programming starts with the controller's own whole-flash erase (up to 6
  // minutes), which an estimate of the stream alone leaves out.
  bool longErase;
  // A board of a revision after 'D' is first announced to the box as 'D'
  // (board information exchange) before its boot flash is programmed.
  bool flashRevisionRule;
  bool longJtagSettle;           // its JTAG chain answers the read-ID request late
  IdForm idForm;
  std::string_view idCaption;    // caption of the read-ID message
  ReadBackForm readBack;
  // Selecting it makes it the current target; the box itself is only
  // talked to, never the device a command addresses.
  bool becomesCurrent;
};

// Every target, in number order.
std::span<const TargetInfo> AllTargets();
const TargetInfo& Info(Target target);
constexpr std::uint8_t Number(Target target) { return static_cast<std::uint8_t>(target); }
// The target of a number on the wire, or none.
std::optional<Target> TargetFromNumber(int number);
// The target of a CLI name ("pic18") or of its number ("2"), or none.
std::optional<Target> ParseTarget(std::string_view text);

// Makes the reader of a target's images; null when the target has none.
// Fields of the request left at 0 take the row's defaults (layout mode).
std::unique_ptr<IntelHexFile> MakeImageReader(Target target, ImageRequest request);

// The range a programming run of `target` loads an image into, given the
// lowest and highest address the file holds (0xFFFFFFFF lowest: no extended
// address records). `load`: a memory load rather than a flash.
LoadRange PlaceImage(Target target, std::uint32_t lowest, std::uint32_t highest, bool load);

}  // namespace tarnvale
