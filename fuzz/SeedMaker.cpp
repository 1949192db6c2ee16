// Writes the starting corpus of every fuzz target into <folder>/<target>/,
// made by the project's own generators so the fuzzers begin from inputs the
// readers accept and mutate from there.
//   tarnvale-fuzz-seeds <folder>
#include <tinyxml2.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/backup/BackupDocument.h"
#include "core/backup/BackupLink.h"
#include "core/platform/SettingsFile.h"
#include "core/programmer/BoxCommands.h"
#include "core/protocol/Packet.h"
#include "support/ImageGen.h"

namespace fs = std::filesystem;
using namespace tarnvale;
using namespace tarnvale::backup;
using test::HexText;
using test::SRecText;

namespace {

void Put(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 131 + seed * 7) ^ (i >> 3));
  return v;
}

void HexSeeds(const fs::path& dir) {
  Put(dir, "record", test::HexLine(0x00, 0x0100, Bytes(16, 1)));
  Put(dir, "small", HexText().Data(0x0000, {1, 2, 3, 4}).EndOfFile().Text());
  Put(dir, "segments", HexText("\n").ExtendedSegment(0x0100).Data(0x0010, Bytes(32, 2))
                           .StartSegment(0x0000, 0x0100).EndOfFile().Text());
  test::HexImageOptions o;
  o.recordSize = 16;
  Put(dir, "image", test::HexImageText(0x0000, Bytes(2048, 3), o));
  Put(dir, "linear", HexText().ExtendedLinear(0x0000).Data(0x3FF0, Bytes(16, 4))
                         .StartLinear(0x00, 0x10, 0x00, 0x00).EndOfFile().Text());
}

void ProgrammerSeeds(const fs::path& dir) {
  // First byte: 0 boot flash, 1 PIC18F252, 2 dsPIC30F.
  std::vector<std::uint8_t> boot = Bytes(16384, 5);
  boot[16352] = 5;
  std::copy_n("V1.23", 5, boot.begin() + 16353);
  test::HexImageOptions o;
  o.recordSize = 32;
  Put(dir, "boot", std::string(1, '\0') + test::HexImageText(0x3FFC000, boot, o));
  Put(dir, "pic18", std::string(1, '\1') + HexText().Data(0x0000, Bytes(64, 6))
                                            .ExtendedLinear(0x0030).Data(0x0000, Bytes(14, 7))
                                            .EndOfFile().Text());
  Put(dir, "pic30", std::string(1, '\2') + HexText().Data(0x0000, Bytes(128, 8))
                                            .ExtendedLinear(0x01F0).Data(0x0000, Bytes(24, 9))
                                            .EndOfFile().Text());
}

void SRecordSeeds(const fs::path& dir) {
  Put(dir, "record", test::SRecLine(1, 0x0100, Bytes(8, 1)));
  // Even length: the application image; odd: the boot image (see the target).
  const std::vector<std::uint8_t> header = {'H', 'D', 'R'};
  std::string app = SRecText().Record(0, 0, header).Record(2, 0x000000, Bytes(32, 2))
                        .Record(3, 0x2000000, Bytes(16, 3)).Record(7, 0).Text();
  if (app.size() % 2 != 0) app += "\n";
  Put(dir, "app", app);
  std::string boot = SRecText().Record(1, 0x0000, Bytes(32, 4)).Record(9, 0).Text();
  if (boot.size() % 2 == 0) boot += "\n";
  Put(dir, "boot", boot);
}

void DumpSeeds(const fs::path& dir) {
  Put(dir, "range", "00000000 0003FFFF 00000000");
  Put(dir, "line", "10:000102030405060708090A0B0C0D0E0F");
  Put(dir, "fill", "\x40" "100.FF");
  Put(dir, "fill4", "\x7f" "  200.DEADBEEF");
}

void ReplySeeds(const fs::path& dir) {
  // First byte: reader (mod 3) and chunk size (>> 2).
  Put(dir, "status", std::string("\x00", 1) + "0");
  Put(dir, "line", std::string("\x05", 1) + ":10000000" + "00112233445566778899AABBCCDDEEFF00\n\r");
  Put(dir, "statusline", std::string("\x01", 1) + "I\n\r");
  std::string framed = {0x0A, ':', 0x04, 0x12, 0x34, 0x00, 1, 2, 3, 4};
  unsigned sum = 0;
  for (std::size_t i = 2; i < framed.size(); ++i) sum += static_cast<std::uint8_t>(framed[i]);
  framed.push_back(static_cast<char>(-sum & 0xFF));
  Put(dir, "framed", framed);
}

std::string Framed(std::uint16_t address, std::uint8_t type, const std::vector<std::uint8_t>& data) {
  const Packet p = BuildPacket(static_cast<std::uint8_t>(data.size()), address, type, data);
  return std::string(p.begin(), p.end());
}

void ReadBackSeeds(const fs::path& dir) {
  // First byte: memory type (mod 3: PIC18F252, dsPIC30F, boot flash), bit 2
  // to a file, the rest the chunk size.
  const auto records = [](std::uint32_t first, std::uint32_t length, std::uint32_t size, std::uint32_t seed) {
    std::string s;
    for (std::uint32_t off = 0; off < length; off += size) {
      const auto bytes = Bytes(size, seed + off);
      s += Framed(static_cast<std::uint16_t>(first + off), 0x00, bytes);
    }
    return s;
  };
  Put(dir, "pic18-file", std::string(1, '\x04') + records(0, 0x100, 32, 1));
  Put(dir, "pic18-chunks", std::string(1, '\x18') + records(0, 0x100, 16, 2));
  Put(dir, "pic30-buffer", std::string(1, '\x01') + records(0xFC00, 0x400, 64, 3));
  Put(dir, "boot-file", std::string(1, '\x06') + records(0xC000, 0x4000, 64, 4));
  Put(dir, "short", std::string(1, '\x04') + records(0, 0x40, 32, 5));
}

void PicReplySeeds(const fs::path& dir) {
  // First byte: reader (mod 3), bit 2 the dsPIC30F, the rest the chunk size.
  Put(dir, "id18", std::string(1, '\x00') + Framed(0, box_type::kReadId, {0x84, 0x00, 0x04, 0x00}));
  Put(dir, "id30", std::string(1, '\x04') + Framed(0, box_type::kReadId, {0xC0, 0x01, 0x01, 0x10}));
  Put(dir, "id18-stream", std::string(1, '\x19') + Framed(0, box_type::kReadId, {0x84, 0x00, 0x04, 0x00}));
  Put(dir, "id30-stream", std::string(1, '\x05') + Framed(0, box_type::kReadId, {0xC1, 0x01, 0x01, 0x10}));
  Put(dir, "ram-running", std::string(1, '\x02') + std::string{1, '0', 50, 0, 0, 0, 0, 0, 0, 0});
  Put(dir, "ram-failed", std::string(1, '\x02') + std::string{0, 'D', 0x00, 0x10, 0x08, 0, 0x55, 0x55, 0x54, 0x55});
}

void BackupReplySeeds(const fs::path& dir) {
  for (const std::string payload : {"00012$Speed$1$0", "Speed$1$0", "0"}) {
    std::string frame = "\x02" "01" + payload + "XX" "\x03";
    const std::string sum = tarnvale::BackupChecksum(payload);
    frame.replace(3 + payload.size(), 2, sum);
    Put(dir, "reply" + std::to_string(payload.size()), std::string(1, '\x03') + frame);
  }
}

void BackupXmlSeeds(const fs::path& dir) {
  tinyxml2::XMLDocument doc;
  WriteIdentity(doc, {"RQ750", "3.10", "2.07"});
  AddParameter(OpenSection(doc, kSetup), "Speed$1$0");
  AddParameter(OpenSection(doc, kSetup), "Gauge$12$0");
  std::string problem;
  tinyxml2::XMLElement* materials = OpenSection(doc, kMaterialTable);
  MergeMaterialEntry(materials, "E41" "1.50$1$2$3$4$5$0", problem);
  MergeMaterialEntry(materials, "E20" "0.8$1$2$3$4$5$0", problem);
  int bends = 0;
  tinyxml2::XMLElement* part =
      PlacePart(OpenSection(doc, kPartLibrary), "Gutters$Box$0", "G1$Old$1$1$100x00002$0", bends, problem);
  AddBend(part, "2" "1$2$3$4$5$6$7$8$9$10$1$0");
  AddBend(part, "31$0");
  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  Put(dir, "backup", printer.CStr());
  // Files from other machines: 8-bit text by declaration, or none at all.
  const std::string body =
      "<Quor_Backup><Controller/><Data Name=\"Setup\"><parameter Name=\"Angle\">90\xB0\x80</parameter></Data>"
      "</Quor_Backup>";
  Put(dir, "backup-latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + body);
  Put(dir, "backup-cp1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>" + body);
  Put(dir, "backup-utf8-stray", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body);
  Put(dir, "backup-undeclared", body);
}

void SerialSeeds(const fs::path& dir) {
  Put(dir, "line", "0x19,0x3,A,B,C,0x2");
  Put(dir, "hex", "0XFF,0X0,0X1G,z");
}

void SettingsSeeds(const fs::path& dir) {
  platform::SettingsFile::Sections s;
  s["Port Settings"]["Port"] = std::string("COM1");
  s["Port Settings"]["Baud"] = std::uint32_t{115200};
  s["Window Settings"]["Text"] = std::string("50% done\r\nnext");
  s["New Production Settings"]["Folder"] = std::string("/home/tech/images");
  Put(dir, "settings", platform::SettingsFile::Format(s));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarnvale-fuzz-seeds <folder>\n");
    return 2;
  }
  const fs::path root = argv[1];
  try {
    HexSeeds(root / "fuzz_hex_file");
    ProgrammerSeeds(root / "fuzz_programmer_images");
    SRecordSeeds(root / "fuzz_srecord");
    DumpSeeds(root / "fuzz_dump_line");
    ReplySeeds(root / "fuzz_reply_readers");
    BackupReplySeeds(root / "fuzz_backup_reply");
    BackupXmlSeeds(root / "fuzz_backup_xml");
    SerialSeeds(root / "fuzz_serial_line");
    SettingsSeeds(root / "fuzz_settings_file");
    ReadBackSeeds(root / "fuzz_box_readback");
    PicReplySeeds(root / "fuzz_pic_replies");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnvale-fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
