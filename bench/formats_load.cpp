// Scanning and loading an 8 MB generation-5 flash memory file against
// `objcopy -I ihex -O binary` on the same file, and the S-record to FMF
// conversion of an application image.
//
// The file is generated here (about 17 MB of CR LF text). Our load runs in a
// child process (this program again, with --load) so that its peak memory is
// not mixed with the generator's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/formats/FlashMemoryFile.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/ProductionImage.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace tarnvale;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::uint32_t g_random = 12345;
std::uint8_t NextByte() {
  g_random ^= g_random << 13;
  g_random ^= g_random >> 17;
  g_random ^= g_random << 5;
  return static_cast<std::uint8_t>(g_random >> 7);
}

// Intel HEX line with CR LF.
void PutLine(std::string& out, std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
             std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  unsigned sum = 0;
  const auto put = [&](std::uint8_t b) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
    sum += b;
  };
  out.push_back(':');
  put(static_cast<std::uint8_t>(n));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address));
  put(type);
  for (std::size_t i = 0; i < n; ++i) put(data[i]);
  put(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  out += "\r\n";
}

// A generation-5 FMF: code over most of the 8 MB with blank stretches, the
// application start address and the top landmarks.
bool GenerateFmf(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::string text;
  const std::uint32_t rom = 0x03800000;
  const std::uint32_t codeEnd = rom + 0x6C0000;  // ~85 % of the image holds code
  for (std::uint32_t address = rom; address <= 0x03FFFFFF; address += 32) {
    if ((address & 0xFFFF) == 0) {
      const std::uint8_t v[2] = {static_cast<std::uint8_t>(address >> 24),
                                 static_cast<std::uint8_t>(address >> 16)};
      PutLine(text, 0x04, 0, v, 2);
    }
    std::uint8_t data[32];
    bool any = false;
    if (address < codeEnd && (address / 32) % 29 != 0) {
      for (auto& b : data) b = NextByte();
      any = true;
    }
    if (address == 0x03FDFFE0) {  // application start address at 0x03FDFFF0
      std::fill(std::begin(data), std::end(data), 0xFF);
      data[16] = 0x00;
      data[17] = 0x00;
      data[18] = 0x80;
      data[19] = 0x03;
      any = true;
    }
    if (address == 0x03FFFFA0 || address == 0x03FFFFE0) {
      std::fill(std::begin(data), std::end(data), 0xFF);
      if (address == 0x03FFFFA0) {
        data[16] = 3;
        data[17] = 'S';
        data[18] = 'N';
        data[19] = '1';
      } else {
        data[14] = 'C';
      }
      any = true;
    }
    if (any) PutLine(text, 0x00, static_cast<std::uint16_t>(address), data, 32);
    if (text.size() > (1 << 20)) {
      std::fwrite(text.data(), 1, text.size(), f);
      text.clear();
    }
  }
  text += ":00000001FF\r\n";
  std::fwrite(text.data(), 1, text.size(), f);
  return std::fclose(f) == 0;
}

// An application S-record file of the production controller: region one of
// 0x1C000 bytes and region two of 0x2000, 32-byte S3 records, word addresses.
bool GenerateSRecords(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::string text = "S00600004844521B\r\n";
  const auto record = [&](std::uint32_t byteAddress) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::uint32_t word = byteAddress / 2;
    std::uint8_t bytes[4 + 32];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(word >> (24 - 8 * i));
    for (int i = 0; i < 32; ++i) bytes[4 + i] = NextByte();
    unsigned sum = 37;
    text += "S325";
    for (std::uint8_t b : bytes) {
      text.push_back(kDigits[b >> 4]);
      text.push_back(kDigits[b & 0xF]);
      sum += b;
    }
    const auto c = static_cast<std::uint8_t>(~sum);
    text.push_back(kDigits[c >> 4]);
    text.push_back(kDigits[c & 0xF]);
    text += "\r\n";
  };
  for (std::uint32_t a = 0; a < 0x1C000; a += 32) record(a);
  for (std::uint32_t a = 0; a < 0x2000; a += 32) record(0x4000000 + 0x100000 + a);
  text += "S70500000000FA\r\n";
  std::fwrite(text.data(), 1, text.size(), f);
  return std::fclose(f) == 0;
}

// Child: scan and load, print "seconds peak_kb result".
int LoadOnly(const char* path) {
  const auto t0 = Clock::now();
  HexScan scan;
  ResultCode r = ScanHexFile(path, scan);
  if (r == 0) {
    IntelHexFile file(path, scan.lowest, fmf::kTopAddress, 1, fmf::kLanes);
    r = file.OpenFile();
    if (r == 0) r = file.AllocateImage();
    if (r == 0) r = file.LoadFile();
    // Proves the image arrived: the start address landmark of generation 5.
    std::uint8_t landmark[4];
    CopyFromImage(file, landmark, fmf::kAppStartLandmarkNew, 4);
    if (r == 0 && (landmark[2] != 0x80 || landmark[3] != 0x03)) r = 255;
  }
  const double s = Seconds(t0);
  std::printf("%.4f %ld %d\n", s, PeakRssKb(), r);
  return r == 0 ? 0 : 1;
}

struct ChildResult {
  double seconds = -1;
  long peakKb = 0;
  int code = -1;
};

ChildResult RunChildLoad(const std::string& self, const fs::path& file) {
  ChildResult out;
  const std::string cmd = "'" + self + "' --load '" + file.string() + "'";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  if (std::fscanf(p, "%lf %ld %d", &out.seconds, &out.peakKb, &out.code) != 3) out.code = -1;
  ::pclose(p);
  return out;
}

double TimeCommand(const std::string& cmd) {
  const auto t0 = Clock::now();
  const int status = std::system(cmd.c_str());
  const double s = Seconds(t0);
  return status == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--load") return LoadOnly(argv[2]);

  const char* tmp = std::getenv("TMPDIR");
  const fs::path dir = fs::path(tmp != nullptr ? tmp : "/tmp") / ("tarnvale-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path fmfPath = dir / "gen5.FMF";
  const fs::path srecPath = dir / "app.S";
  if (!GenerateFmf(fmfPath) || !GenerateSRecords(srecPath)) {
    std::fprintf(stderr, "formats_load: cannot write test files in %s\n", dir.c_str());
    return 1;
  }
  const std::string self = fs::canonical("/proc/self/exe").string();
  std::printf("formats_load: %s, %.1f MB of text\n", fmfPath.c_str(),
              static_cast<double>(fs::file_size(fmfPath)) / 1e6);

  constexpr int kRuns = 5;
  double ours = 1e9, objcopy = 1e9;
  long peakKb = 0;
  for (int i = 0; i < kRuns; ++i) {
    const ChildResult r = RunChildLoad(self, fmfPath);
    if (r.code != 0) {
      std::fprintf(stderr, "formats_load: our load failed (%d)\n", r.code);
      return 1;
    }
    ours = std::min(ours, r.seconds);
    peakKb = std::max(peakKb, r.peakKb);
    const double o = TimeCommand("objcopy -I ihex -O binary '" + fmfPath.string() + "' '" +
                                 (dir / "objcopy.bin").string() + "'");
    if (o < 0) {
      std::fprintf(stderr, "formats_load: objcopy is needed for the baseline\n");
      return 1;
    }
    objcopy = std::min(objcopy, o);
  }
  const double imageMb = 8.0;
  std::printf("formats_load: ours %.3f s, objcopy %.3f s, ratio %.2f (goal <= 0.50)\n", ours, objcopy,
              ours / objcopy);
  std::printf("formats_load: peak RSS %.1f MB, %.2f x the 8 MB image (goal < 3.00)\n", peakKb / 1024.0,
              peakKb / 1024.0 / imageMb);

  double convert = 1e9;
  for (int i = 0; i < kRuns; ++i) {
    ProductionImageOptions options;
    options.modelCode = "EF";
    std::string version;
    const auto t0 = Clock::now();
    const ResultCode r = ConvertProductionImage(srecPath, dir / "TN835 Appl.FMF", options, version);
    convert = std::min(convert, Seconds(t0));
    if (r != 0) {
      std::fprintf(stderr, "formats_load: conversion failed (%d)\n", r);
      return 1;
    }
  }
  std::printf("formats_load: S-record -> FMF conversion %.3f s (goal < 0.50)\n", convert);

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
