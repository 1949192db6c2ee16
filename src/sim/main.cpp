// tarnvale-sim: simulated devices for trying Tarnvale without hardware.
//
//   tarnvale-sim rq700 [--pty | --tcp ADDR:PORT] [options]
//       An RQ700-series controller in flash program mode. The first line on
//       stdout names the endpoint ("pty /dev/pts/N" or "tcp 127.0.0.1:PORT");
//       it serves until SIGINT or SIGTERM.
//   tarnvale-sim rq750 [--pty | --tcp ADDR:PORT] [options]
//       An RQ750 in Data Backup mode (setup, material table, part library).
//   tarnvale-sim box [--pty | --tcp ADDR:PORT] [options]
//       The Universal Programmer box with an 80386EX CPU board on its JTAG
//       cable (board faults injectable); first line as for rq700.
//   tarnvale-sim tn835 [--pty | --tcp ADDR:PORT] [options]
//       A TN835 controller taking its application and test images.
//   tarnvale-sim bench [--pty | --tcp] [--controller rq700|tn835] [options]
//       A controller and the box from one process on two endpoints;
//       the first two lines are "controller <endpoint>" and "programmer <endpoint>".
//   tarnvale-sim make-image OUT.FMF [--generation 3|4|5] [...]
//       Writes a demonstration flash memory file.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/ShellCompletion.h"
#include "sim/BoxServe.h"
#include "sim/ImageMaker.h"
#include "sim/Rq700Device.h"
#include "sim/Rq750Command.h"
#include "sim/SimLink.h"
#include "sim/Tn835Command.h"
#include "core/formats/IntelHexFile.h"

namespace {

bool ParseHex32(const std::string& text, std::uint32_t& out) {
  std::size_t used = 0;
  try {
    const unsigned long v = std::stoul(text, &used, 16);
    if (used != text.size() || v > 0xFFFFFFFFul) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Preloads flash (boot area included) from a flash memory file.
bool PreloadImage(const std::string& path, tarnvale::sim::Rq700Device& device, std::string& error) {
  using namespace tarnvale;
  HexScan scan;
  if (ScanHexFile(path, scan) != rc::kFileOk || scan.lowest == 0xFFFFFFFF) {
    error = "cannot read the flash memory file " + path;
    return false;
  }
  IntelHexFile file(path, scan.lowest, sim::kTopAddress, 1, 1);
  if (file.OpenFile() != rc::kFileOk || file.AllocateImage() != rc::kFileOk ||
      file.LoadFile() != rc::kFileOk) {
    error = "cannot load the flash memory file " + path;
    return false;
  }
  const std::vector<std::uint8_t> bytes = file.ImageBytes();
  device.Memory().Poke(scan.lowest, bytes.data(), bytes.size());
  return true;
}

int RunRq700(const std::string& tcp, tarnvale::sim::DeviceOptions opts, std::uint32_t baud,
             const std::string& image, const std::string& logPath, const std::string& savePath,
             bool serialGiven, bool revisionGiven) {
  using namespace tarnvale::sim;
  LinkOptions link;
  if (!LinkFromOptions(tcp, baud, link, std::cerr)) return 2;

  // An image brings its own boot area; the options override it when given.
  opts.keepBootBlock = !image.empty() && !serialGiven;
  const char revision = opts.revision;
  if (!image.empty() && !revisionGiven) opts.revision = 0;
  Rq700Device device(opts);
  if (!image.empty()) {
    std::string error;
    if (!PreloadImage(image, device, error)) {
      std::cerr << error << "\n";
      return 1;
    }
    device.ApplyBoardIdentity();
    // An image without a revision letter still needs one to be a board.
    const std::uint8_t letter = device.Memory().Read(kRevisionAddress);
    if (letter < 'A' || letter > 'Z') {
      const auto l = static_cast<std::uint8_t>(revision);
      device.Memory().Poke(kRevisionAddress, &l, 1);
    }
  }

  std::FILE* log = nullptr;
  if (!logPath.empty()) {
    log = std::fopen(logPath.c_str(), "w");
    if (log == nullptr) {
      std::cerr << "cannot write the log " << logPath << "\n";
      return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    device.SetLog([log, t0](const std::string& text) {
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - t0)
                          .count();
      std::fprintf(log, "t=%lld %s\n", static_cast<long long>(us), text.c_str());
      std::fflush(log);
    });
  }

  const int stopFd = InstallStopSignals();
  if (stopFd < 0) return 1;
  SimLink sim(device, link);
  if (OpenAndServe(sim, "RQ700 simulator", stopFd, std::cout, std::cerr) != 0) return 1;

  if (!savePath.empty()) {
    if (std::FILE* f = std::fopen(savePath.c_str(), "wb")) {
      const auto& flash = device.Memory().Flash();
      std::fwrite(flash.data(), 1, flash.size(), f);
      std::fclose(f);
    }
  }
  if (log != nullptr) {
    std::fprintf(log, "exit max-awaiting=%u program-packets=%u\n", device.MaxAwaitingReply(),
                 device.ProgramPackets());
    std::fclose(log);
  }
  return 0;
}


// The box's options, shared by "box" and "bench".
struct BoxArgs {
  tarnvale::sim::BoxOptions options;
  std::string jtagId, cpuRev, ioRev, flashChip, ramFail, pic18Id, pic30Id, bootImage, eepromBad;
  std::vector<std::string> stuck, shorts, faults;
  std::uint32_t baud = 0;
  std::uint32_t readStop = 0;
};

void AddBoxOptions(CLI::App* cmd, BoxArgs& a, bool withFaults) {
  cmd->add_option("--version", a.options.version, "Version text the box reports");
  cmd->add_option("--jtag-id", a.jtagId, "JTAG ID to report, hex (default by target)");
  cmd->add_flag("--no-jtag,--cable-off", a.options.noJtag,
                "The JTAG cable is off: nothing on the CPU board or TN835 CPU answers");
  cmd->add_option("--cpu-rev", a.cpuRev, "CPU board (7193) revision letter (default C)");
  cmd->add_option("--io-rev", a.ioRev, "I/O board (7194) revision letter (default B)");
  cmd->add_option("--serial", a.options.serial, "Controller serial number on the board");
  cmd->add_option("--cpu-serial", a.options.cpuSerial, "CPU board serial number");
  cmd->add_option("--io-serial", a.options.ioSerial, "I/O board serial number");
  cmd->add_option("--flash-chip", a.flashChip, "Revision C boot flash: st (default) or amd");
  cmd->add_option("--stuck", a.stuck, "A pin stuck at a level, PIN=0|1 (repeatable)");
  cmd->add_option("--short", a.shorts, "Two shorted pins, PIN,PIN (repeatable)");
  cmd->add_option("--ram-ms", a.options.ramMs, "Time one RAM bank load or test takes (default 2000)");
  cmd->add_option("--ram-fail", a.ramFail, "RAM test fails at ADDR with data D1,D2: ADDR=D1,D2 (hex)");
  cmd->add_option("--pic18-id", a.pic18Id, "PIC18F252 device ID reply bytes, hex (default 84000400)");
  cmd->add_option("--pic30-id", a.pic30Id, "dsPIC30F device ID and revision DEV:REV, hex (default 01C0:1001)");
  cmd->add_option("--record-size", a.options.recordSize, "Bytes per read-back record: 16, 32 (default) or 64");
  cmd->add_option("--boot-image", a.bootImage, "Preload the boot flash from a flash memory file (*.FMF)");
  cmd->add_option("--eeprom-bad", a.eepromBad, "A PIC18F252 EEPROM cell (hex) that keeps 0: Test EEPROM gives 'D'");
  cmd->add_option("--read-stop", a.readStop, "Read-back goes silent after N records (0: never)");
  if (withFaults) {
    cmd->add_option("--baud", a.baud, "Pace the link as a serial line of this speed (8N1)");
    cmd->add_option("--fault", a.faults, "silent-after:N, close-after:N or stray:N=HH (packets)");
    cmd->add_option("--log", a.options.logPath, "Write every packet received to this file");
  }
}

// Checks and completes the box's options; false after printing the reason.
bool FinishBoxOptions(BoxArgs& a) {
  using namespace tarnvale::sim;
  std::string error;
  auto letter = [&error](const std::string& text, char& out, const char* what) {
    if (text.empty()) return true;
    if (text.size() != 1 || text[0] < 'A' || text[0] > 'Z') {
      error = std::string(what) + " wants one letter A to Z";
      return false;
    }
    out = text[0];
    return true;
  };
  bool ok = letter(a.cpuRev, a.options.cpuRevision, "--cpu-rev") &&
            letter(a.ioRev, a.options.ioRevision, "--io-rev");
  if (ok && !a.jtagId.empty()) {
    std::uint32_t id = 0;
    ok = ParseHex32(a.jtagId, id);
    if (ok) a.options.jtagId = id;
    else error = "--jtag-id wants a hex number";
  }
  if (ok && !a.flashChip.empty()) {
    ok = a.flashChip == "st" || a.flashChip == "amd";
    a.options.amdFlash = a.flashChip == "amd";
    if (!ok) error = "--flash-chip wants st or amd";
  }
  if (ok && a.options.version.size() > 70) {
    ok = false;
    error = "--version wants at most 70 characters";
  }
  for (const auto& s : a.stuck) {
    std::pair<int, bool> p;
    if (ok && (ok = ParseStuck(s, p, error))) a.options.stuck.push_back(p);
  }
  for (const auto& s : a.shorts) {
    std::pair<int, int> p;
    if (ok && (ok = ParseShort(s, p, error))) a.options.shorts.push_back(p);
  }
  if (ok && !a.ramFail.empty()) ok = ParseRamFail(a.ramFail, a.options, error);
  if (ok && !a.pic18Id.empty()) ok = ParsePic18Id(a.pic18Id, a.options, error);
  if (ok && !a.pic30Id.empty()) ok = ParsePic30Id(a.pic30Id, a.options, error);
  if (ok && a.options.recordSize != 16 && a.options.recordSize != 32 && a.options.recordSize != 64) {
    ok = false;
    error = "--record-size wants 16, 32 or 64";
  }
  if (ok && !a.eepromBad.empty()) {
    std::uint32_t cell = 0;
    ok = ParseHex32(a.eepromBad, cell) && cell < 256;
    if (ok) a.options.eepromBad = cell;
    else error = "--eeprom-bad wants an EEPROM address 0 to FF (hex)";
  }
  if (a.readStop != 0) a.options.readStopAfter = a.readStop;
  if (ok && !a.bootImage.empty()) ok = LoadBootImageFile(a.bootImage, a.options.bootImage, error);
  for (const auto& f : a.faults) {
    if (!ok) break;
    const auto fault = ParseFault(f, error);
    ok = fault && fault->kind != Fault::Kind::Ack && fault->kind != Fault::Kind::Erase &&
         fault->kind != Fault::Kind::CloseAfterLines && fault->kind != Fault::Kind::WeakCell;
    if (fault && !ok) error = "the box takes silent-after, close-after and stray faults: " + f;
    if (ok) a.options.faults.push_back(*fault);
  }
  if (!ok) std::cerr << error << "\n";
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnvale::sim;
  CLI::App app{"Tarnvale simulated devices", "tarnvale-sim"};  // not argv[0]: help names the program
  app.set_version_flag("--version", std::string("tarnvale-sim ") + TARNVALE_VERSION);
  app.require_subcommand(1);

  auto* rq = app.add_subcommand("rq700", "A simulated RQ700 controller in flash program mode");
  bool pty = false;
  std::string tcp, image, logPath, savePath, range, flashBase, serial;
  std::string revision;
  std::uint32_t baud = 0;
  DeviceOptions opts;
  std::vector<std::string> faults;
  auto* ptyOpt = rq->add_flag("--pty", pty, "Serve on a new pseudo-terminal (the default)");
  rq->add_option("--tcp", tcp, "Serve on a loopback TCP endpoint ADDR:PORT (port 0: any free)")
      ->excludes(ptyOpt);
  rq->add_option("--flash-base", flashBase, "Lowest flash address, hex (default 03800000)");
  rq->add_option("--image", image, "Preload flash from a flash memory file (*.FMF)");
  rq->add_option("--revision", revision, "CPU board revision letter (default C)");
  rq->add_option("--serial", serial, "Controller serial number in the boot identity block");
  rq->add_option("--range", range, "START:END (hex) reported by the memory image query");
  rq->add_option("--baud", baud, "Pace the link as a serial line of this speed (8N1)");
  rq->add_option("--erase-ms", opts.eraseMs, "Time a flash erase takes (default 2000)");
  rq->add_option("--ack-delay-ms", opts.ackDelayMs, "Delay every programming acknowledgement");
  rq->add_option("--fault", faults,
                 "ack:N=C, erase:C, silent-after:N, stray:N=HH, close-after:N, close-after-lines:N or "
                 "weak-cell:N (program packet N reads back with one bit flipped)");
  rq->add_option("--log", logPath, "Write every packet received to this file");
  rq->add_option("--save-flash", savePath, "Write the flash contents to this file at exit");

  tarnvale::sim::Rq750Command rq750(app);
  auto* boxCmd = app.add_subcommand("box", "A simulated Universal Programmer box with a CPU board");
  BoxArgs boxArgs;
  bool boxPty = false;
  std::string boxTcp;
  auto* boxPtyOpt = boxCmd->add_flag("--pty", boxPty, "Serve on a new pseudo-terminal (the default)");
  boxCmd->add_option("--tcp", boxTcp, "Serve on a loopback TCP endpoint ADDR:PORT (port 0: any free)")
      ->excludes(boxPtyOpt);
  AddBoxOptions(boxCmd, boxArgs, true);

  auto* bench = app.add_subcommand("bench", "An RQ700 controller and the box on two endpoints");
  BoxArgs benchArgs;
  bool benchTcp = false, benchPty = false;
  std::string benchRevision;
  // --pty as every other mode takes it: ptys are the bench's default too.
  auto* benchPtyOpt = bench->add_flag("--pty", benchPty, "Serve both on new pseudo-terminals (the default)");
  bench->add_flag("--tcp", benchTcp, "Serve both on loopback TCP ports instead of ptys")->excludes(benchPtyOpt);
  bench->add_option("--controller-revision", benchRevision, "The controller's CPU board revision");
  AddBoxOptions(bench, benchArgs, false);
  std::string benchController = "rq700", benchSaveFlash, benchSaveBoot;
  bench->add_option("--controller", benchController, "The controller on the bench: rq700 (default) or tn835")
      ->check(CLI::IsMember({"rq700", "tn835"}));
  bench->add_option("--save-flash", benchSaveFlash, "tn835: write the controller's flash to this file at exit");
  bench->add_option("--save-boot", benchSaveBoot, "tn835: write the TN835 CPU's boot flash to this file at exit");
  tarnvale::sim::Tn835Command tn835(app);

  auto* mk = app.add_subcommand("make-image", "Write a demonstration flash memory file");
  std::string out;
  ImageSpec recipe;
  mk->add_option("output", out, "The .FMF file to write")->required();
  mk->add_option("--generation", recipe.generation, "Software generation 3, 4 or 5 (default 4)")
      ->check(CLI::IsMember({3, 4, 5}));
  mk->add_option("--version", recipe.version, "Software version text (default 5.01.00)");
  mk->add_option("--model", recipe.model, "Model name (default RQ700)");
  mk->add_option("--serial", recipe.serial, "Serial number in the boot identity block");
  mk->add_option("--app-size", recipe.appSize, "Bytes of application body (default 65536)");
  mk->add_option("--seed", recipe.seed, "Seed of the application bytes");

  // The build writes the completion file and the man page from these.
  if (int code = 0; tarnvale::cli::AnswerCompletionRequest(app, "tarnvale-sim", argc, argv, std::cout,
                                                           std::cerr, code)) {
    return code;
  }
  CLI11_PARSE(app, argc, argv);

  if (boxCmd->parsed() || bench->parsed()) {
    BoxArgs& a = boxCmd->parsed() ? boxArgs : benchArgs;
    if (!FinishBoxOptions(a)) return 2;
    LinkOptions link;
    if (!LinkFromOptions(boxCmd->parsed() ? boxTcp : std::string(), a.baud, link, std::cerr)) return 2;
    const int stopFd = InstallStopSignals();
    if (stopFd < 0) return 1;
    if (boxCmd->parsed()) return ServeBox(a.options, link, stopFd, std::cout, std::cerr);
    link.tcp = benchTcp;
    if (benchController == "tn835") {
      return ServeTn835Bench(Tn835Options{}, a.options, link, stopFd, benchSaveFlash,
                             benchSaveBoot, std::cout, std::cerr);
    }
    DeviceOptions controller;
    if (!benchRevision.empty()) controller.revision = benchRevision[0];
    return ServeBench(controller, a.options, link, stopFd, std::cout, std::cerr);
  }

  if (mk->parsed()) {
    std::string error;
    if (!WriteFlashMemoryFile(out, RomStartFor(recipe.generation), BuildImage(recipe), error)) {
      std::cerr << error << "\n";
      return 1;
    }
    return 0;
  }

  if (rq750.Parsed()) return rq750.Run();
  if (tn835.Parsed()) {
    const int stopFd = InstallStopSignals();
    if (stopFd < 0) return 1;
    return tn835.Run(stopFd);
  }

  if (!flashBase.empty() && !ParseHex32(flashBase, opts.flashBase)) {
    std::cerr << "--flash-base wants a hex address\n";
    return 2;
  }
  if (opts.flashBase > kBootAreaBase || opts.flashBase <= kRamEnd) {
    std::cerr << "--flash-base must lie above RAM and below the boot area\n";
    return 2;
  }
  if (!revision.empty()) {
    if (revision.size() != 1) {
      std::cerr << "--revision wants one letter\n";
      return 2;
    }
    opts.revision = revision[0];
  }
  if (!serial.empty()) opts.serial = serial;
  if (!range.empty()) {
    const auto colon = range.find(':');
    std::uint32_t s = 0, e = 0;
    if (colon == std::string::npos || !ParseHex32(range.substr(0, colon), s) ||
        !ParseHex32(range.substr(colon + 1), e)) {
      std::cerr << "--range wants START:END in hex\n";
      return 2;
    }
    opts.rangeStart = s;
    opts.rangeEnd = e;
  }
  for (const std::string& f : faults) {
    std::string error;
    const auto fault = ParseFault(f, error);
    if (!fault) {
      std::cerr << error << "\n";
      return 2;
    }
    opts.faults.push_back(*fault);
  }
  return RunRq700(tcp, opts, baud, image, logPath, savePath, !serial.empty(), !revision.empty());
}
