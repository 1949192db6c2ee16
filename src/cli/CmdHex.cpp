// hex scan, hex stream, srec convert: the scriptable face of the image formats.
//
// hex scan prints one "key: value" line per fact (or one JSON object with
// --json); hex stream prints one packet per line in upper-case hex; srec
// convert prints the version text of the converted image.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "core/device/Target.h"
#include "core/formats/FlashMemoryFile.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/ProductionImage.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/formats/TN820HexFile.h"
#include "core/formats/TokenReader.h"
#include "core/platform/HexDigits.h"
#include "core/formats/BoardInfoRecord.h"
#include "core/result/ResultCode.h"

namespace tarnvale::cli {
namespace {

// A file a reader refused: where and why, and the file error exit code.
[[noreturn]] void FailFile(const std::string& path, ResultCode code, const FileFailure& failure) {
  Fail(FileErrorText(path, code, failure), ExitCodeFor(code));
}

// Data the reader left out: the stream goes on without it, but say so.
void WarnDropped(const std::string& path, const std::string& dropped) {
  if (!dropped.empty()) std::cerr << "warning: " << path << ": " << dropped << std::endl;
}

// "1 (rq700), 2 (pic18), ..." for help and usage texts: the targets that have
// an image to stream, straight from the device table, so that the help and
// the check never disagree.
std::string StreamTargetNames() {
  std::string names;
  for (const TargetInfo& row : AllTargets()) {
    if (row.reader == nullptr) continue;
    if (!names.empty()) names += ", ";
    names += std::to_string(row.number) + " (" + std::string(row.cliName) + ")";
  }
  return names;
}

std::string HexNumber(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0xF]);
  }
  return out;
}

// Texts from files may hold any byte: keep the output one clean line.
std::string EscapeText(const std::string& text, bool json) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (json && (c == '"' || c == '\\')) {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F || (!json && c == '\\')) {
      char esc[8];
      std::snprintf(esc, sizeof esc, json ? "\\u%04x" : "\\x%02X", c);
      out += esc;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// Keys in output order; a key without a value is left out.
struct ScanReport {
  struct Field {
    std::string key;
    bool number;
    std::uint32_t value;
    std::string text;
    bool hex;  // text form of a number: hexadecimal
  };
  std::vector<Field> fields;

  void Number(const std::string& key, std::uint32_t v, bool hex) {
    fields.push_back({key, true, v, {}, hex});
  }
  void Text(const std::string& key, const std::string& t) { fields.push_back({key, false, 0, t, false}); }

  void Print(bool json) const {
    std::string out;
    if (json) {
      out = "{";
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        if (i != 0) out += ", ";
        out += "\"" + f.key + "\": ";
        out += f.number ? std::to_string(f.value) : "\"" + EscapeText(f.text, true) + "\"";
      }
      out += "}\n";
    } else {
      for (const Field& f : fields) {
        out += f.key + ": ";
        out += f.number ? (f.hex ? HexNumber(f.value) : std::to_string(f.value))
                        : EscapeText(f.text, false);
        out += "\n";
      }
    }
    std::cout << out;
  }
};

void RunScan(const std::string& path, bool json) {
  ScanReport report;
  HexScan scan;
  ResultCode result = ScanHexFile(path, scan);
  std::string failure;
  if (result != rc::kFileOk) {
    report.Number("result", result, false);
    report.Print(json);
    FailFile(path, result, scan.failure);
  }
  const int generation = SoftwareGeneration(scan.lowest);
  ScanReport landmarks;
  FileFailure landmarkFailure;
  if (scan.mode == 2 && generation != 0) {
    // A flash memory file: read its landmarks as the flash workflow does.
    IntelHexFile file(path, scan.lowest, fmf::kTopAddress, 1, fmf::kLanes);
    std::uint32_t appStart = 0;
    if ((result = file.OpenFile()) != rc::kFileOk) {
      failure = "Unable to open FMF file.";
    } else if ((result = FindApplicationStart(file, generation, appStart)) != rc::kFileOk) {
      failure = "Unable to Find Application Starting Address.";
    } else if ((result = file.AllocateImage()) != rc::kFileOk) {
      failure = "Unable to Create Array for FMF File.";
    } else if ((result = file.LoadFile()) != rc::kFileOk) {
      failure = "Unable to Read FMF File into Memory.";
      landmarkFailure = file.Failure();
    } else {
      landmarks.Number("application_start", appStart, true);
      landmarks.Text("version", ReadHeaderVersion(file, appStart));
      landmarks.Text("model", ReadHeaderModel(file, appStart));
      const std::vector<std::uint8_t> identity = ReadHeaderIdentity(file, appStart);
      landmarks.Text("identity", HexBytes(identity.data(), identity.size()));
      std::uint8_t block[fmf::kBootBlockSize];
      ReadBootBlock(file, block);
      landmarks.Text("serial", BootBlockSerial(block));
      std::uint8_t revision = 0;
      ReadRevisionLetter(file, &revision);
      landmarks.Text("revision", std::string(1, static_cast<char>(revision)));
    }
  }
  report.Number("result", result, false);
  report.Number("lowest", scan.lowest, true);
  report.Number("highest", scan.highest, true);
  report.Number("mode", scan.mode, false);
  if (scan.start) report.Number("start", *scan.start, true);
  report.Number("generation", static_cast<std::uint32_t>(generation), false);
  report.fields.insert(report.fields.end(), landmarks.fields.begin(), landmarks.fields.end());
  report.Print(json);
  if (result != rc::kFileOk) Fail(failure + " " + FileErrorText(path, result, landmarkFailure), ExitCodeFor(result));
}

std::optional<std::uint32_t> ParseAddress(const std::string& text) {
  // Addresses are hexadecimal everywhere in this tool (hex scan prints them
  // so); the 0x is optional. Up to eight digits: the whole 32-bit range.
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
  }
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    const int v = kHexValue[static_cast<unsigned char>(c)];
    if (v < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(v);
  }
  return value;
}

std::uint32_t ParseNumber(const std::string& text, const char* what) {
  if (const auto v = ParseAddress(text)) return *v;
  std::cerr << "invalid " << what << ": " << text
            << " (a hexadecimal address 0 to FFFFFFFF, 0x optional)\n";
  throw CLI::RuntimeError(kExitUsage);
}

struct StreamOptions {
  std::string path;
  std::string target;
  bool load = false;
  std::string base, end, boardInfo;
  int lanes = 0;
  int layout = 0;
};

void RunStream(const StreamOptions& o) {
  std::optional<std::uint32_t> base, end;
  if (!o.base.empty()) base = ParseNumber(o.base, "--base");
  if (!o.end.empty()) end = ParseNumber(o.end, "--end");
  const std::optional<Target> target = ParseTarget(o.target);
  if (!target) {
    std::cerr << "--target must be one of " << StreamTargetNames() << ", by number or name\n";
    throw CLI::RuntimeError(kExitUsage);
  }
  const TargetInfo& row = Info(*target);
  if (row.reader == nullptr) {
    std::cerr << "target " << int{row.number} << " (" << row.cliName
              << ") has no image to stream; --target must be one of " << StreamTargetNames() << "\n";
    throw CLI::RuntimeError(kExitUsage);
  }
  if (row.needsBoardInfo && o.boardInfo.empty()) {
    // The boot image carries the board's serial numbers and revisions: there
    // is no image to show without them.
    Fail("--target " + std::to_string(row.number) + " (" + std::string(row.cliName) +
             ") needs --board-info: the boot image is stamped with the board's record",
         kExitUsage);
  }
  // An empty file, or one with only an end record, has nothing to program:
  // refuse it as hex scan does rather than print a stream of no data.
  HexScan scan;
  if (const ResultCode r = ScanHexFile(o.path, scan); r != rc::kFileOk) FailFile(o.path, r, scan.failure);
  ImageRequest what;
  what.path = o.path;
  what.programFlash = !o.load;
  what.layoutMode = o.layout;
  what.range = row.range;
  if (o.lanes != 0) what.range.lanes = static_cast<std::uint8_t>(o.lanes);
  if (row.placement != ImagePlacement::Fixed) {
    // Placed by the file's own addresses unless the range is given.
    const LoadRange placed = PlaceImage(*target, scan.lowest, scan.highest, o.load);
    what.range.end = placed.end;
    if (!base) base = placed.base;
  }
  if (base) what.range.base = *base;
  if (end) what.range.end = *end;
  if (!o.boardInfo.empty()) {
    if (o.boardInfo.size() != 2 * BoardInfoRecord::kSize) {
      Fail("--board-info needs 62 bytes as 124 hexadecimal digits", kExitUsage);
    }
    for (std::size_t i = 0; i < BoardInfoRecord::kSize; ++i) {
      if (!DecodeHexByte(o.boardInfo.data() + 2 * i, what.boardInfo.bytes[i])) {
        Fail("--board-info holds a character that is not a hexadecimal digit", kExitUsage);
      }
    }
  }
  if (what.range.end < what.range.base ||
      std::uint64_t{what.range.end} - what.range.base + 1 > IntelHexFile::kMaxImageSize) {
    Fail(o.path + ": the image range " + HexNumber(what.range.base) + "-" + HexNumber(what.range.end) +
             (what.range.end < what.range.base ? " ends below its start"
                                               : " is larger than the 8 MB an image can hold") +
             " (set it with --base and --end)",
         ExitCodeFor(rc::kImageTooLarge));
  }
  std::unique_ptr<IntelHexFile> file = MakeImageReader(*target, what);
  ResultCode r = file->OpenFile();
  if (r == rc::kFileOk) r = file->AllocateImage();
  if (r == rc::kFileOk) r = file->LoadFile();
  if (r != rc::kFileOk) FailFile(o.path, r, file->Failure());
  WarnDropped(o.path, file->DroppedText());

  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(1 << 20);
  Packet packet;
  while (!file->IsFinished()) {
    file->GetNextPacket(packet);
    if (packet.empty()) continue;
    for (const std::uint8_t b : packet) {
      out.push_back(kDigits[b >> 4]);
      out.push_back(kDigits[b & 0xF]);
    }
    out.push_back('\n');
    if (out.size() > (1 << 20) - 1024) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

struct ConvertOptions {
  std::string input, output, image;
  std::string model = "EF";  // the production dialog's first model
  std::string serial, hwRev;
};

void RunConvert(const ConvertOptions& o) {
  ProductionImageOptions options;
  if (o.image == "application") {
    options.kind = ProductionImageKind::Application;
    if (o.model.size() > production::kModelCodeSize) Fail("--model is longer than 16 characters", kExitUsage);
    options.modelCode = o.model;
  } else if (o.image == "test") {
    options.kind = ProductionImageKind::Test;
  } else {
    options.kind = ProductionImageKind::Boot;
    if (o.serial.empty()) Fail("You must enter a valid serial number", kExitUsage);
    if (o.hwRev.empty()) Fail("You must enter a Hardware Revision", kExitUsage);
    if (o.serial.size() > production::kSerialMax) {
      Fail("The serial number is longer than 15 characters", kExitUsage);
    }
    options.serialNumber = o.serial;
    options.hardwareRevision = o.hwRev[0];
  }
  // The name given and the name the first-dot rule makes of it: neither may
  // be a device, a FIFO or a folder (a device's name once became a new file
  // beside it).
  RefuseBadOutput(o.output);
  RefuseBadOutput(MotorolaSRecFile::FlashMemoryFileName(o.output).string());
  std::string version;
  FileFailure failure;
  std::filesystem::path written;
  ProductionImageFacts facts;
  const ResultCode r =
      ConvertProductionImage(o.input, o.output, options, version, &written, &failure, &facts);
  if (r == rc::kOutputIsInput) {
    Fail(o.input + ": " + ResultText(r) + " (the output would be written as " +
             MotorolaSRecFile::FlashMemoryFileName(o.output).string() + ")",
         ExitCodeFor(r));
  }
  if (r != rc::kFileOk) Fail(FileErrorText(o.input, r, failure), ExitCodeFor(r));
  WarnDropped(o.input, facts.droppedText);
  std::cout << EscapeText(version, false) << "\n";
  // The first-dot rule may change the name given; say which file it is.
  std::cerr << "Written to " << written.string() << "\n";
}

}  // namespace

void RegisterHexCommands(CLI::App& app) {
  CLI::App* hex = app.add_subcommand("hex", "Intel HEX and flash memory files");
  hex->require_subcommand(1);

  auto scanPath = std::make_shared<std::string>();
  auto scanJson = std::make_shared<bool>(false);
  CLI::App* scan = hex->add_subcommand(
      "scan", "Lowest and highest address, mode, start address, generation and landmarks");
  scan->add_option("FILE", *scanPath, "Intel HEX or flash memory file")->required();
  scan->add_flag("--json", *scanJson, "One JSON object instead of key: value lines");
  scan->callback([scanPath, scanJson] { RunScan(*scanPath, *scanJson); });

  auto so = std::make_shared<StreamOptions>();
  CLI::App* stream = hex->add_subcommand("stream", "The programming packets a run would send");
  stream->add_option("FILE", so->path, "image file")->required();
  stream->add_option("--target", so->target,
                     "target of the programming run, by number or name: " + StreamTargetNames())
      ->required();
  stream->add_flag("--load", so->load, "memory load instead of flash programming");
  stream->add_option("--base", so->base, "first address of the image range (hexadecimal, 0x optional)");
  stream->add_option("--end", so->end, "last address of the image range (hexadecimal, 0x optional)");
  stream->add_option("--lanes", so->lanes, "byte lanes: 1, 2 or 4")->check(CLI::IsMember({1, 2, 4}));
  stream->add_option("--board-info", so->boardInfo, "62-byte board record as hex (target 4)");
  stream->add_option("--layout", so->layout, "layout mode of targets 5 and 6");
  stream->callback([so] { RunStream(*so); });

  CLI::App* srec = app.add_subcommand("srec", "Motorola S-record production images");
  srec->require_subcommand(1);
  auto co = std::make_shared<ConvertOptions>();
  CLI::App* convert =
      srec->add_subcommand("convert", "Convert an S-record file into a stamped flash memory file");
  convert->add_option("FILE", co->input, "S-record file")->required();
  convert->add_option("OUT", co->output, "flash memory file to write")->required();
  convert->add_option("--image", co->image, "application, test or boot")
      ->required()
      ->check(CLI::IsMember({"application", "test", "boot"}));
  convert->add_option("--model", co->model, "model code written into an application image");
  convert->add_option("--serial", co->serial, "serial number of a boot image");
  convert->add_option("--hw-rev", co->hwRev, "hardware revision of a boot image");
  convert->callback([co] { RunConvert(*co); });
}

}  // namespace tarnvale::cli
