// boot program | read | verify | blank | erase: the 80386EX CPU board's
// boot flash through the Universal Programmer, with the same core commands
// as the GUI's "7193 JTAG" menu and test dialog.
#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/ProgrammerCli.h"
#include "core/flash/RunEventAdapters.h"
#include "core/link/CommPort.h"
#include "core/programmer/BootFlash.h"

namespace tarnvale::cli {
namespace {

struct BootArgs {
  ProgrammerArgs link;
  std::string file;
  std::string out;
  std::optional<std::string> serial, cpuSerial, ioSerial, cpuRev, ioRev;
};

// The serial / revision form filled from the command line: what was given
// replaces what the board reported; a revision is "typed", so the flash ID
// is read again with its algorithm as in the dialog.
class FlagForm : public SerialRevisionForm {
 public:
  explicit FlagForm(const BootArgs& a) : a_(a) {}
  bool Show(SerialRevisionInput& input) override {
    if (a_.cpuRev) input.RevisionTyped(true, *a_.cpuRev);
    if (a_.ioRev) input.RevisionTyped(false, *a_.ioRev);
    if (a_.serial) input.Field(SerialField::ControllerSerial) = *a_.serial;
    if (a_.cpuSerial) input.Field(SerialField::CpuSerial) = *a_.cpuSerial;
    if (a_.ioSerial) input.Field(SerialField::IoSerial) = *a_.ioSerial;
    return true;
  }

 private:
  const BootArgs& a_;
};

void CheckLetter(const std::optional<std::string>& letter, const char* option) {
  if (letter && (letter->size() != 1 || (*letter)[0] < 'A' || (*letter)[0] > 'Z')) {
    std::cerr << option << " wants one letter A to Z: " << *letter << std::endl;
    throw CLI::RuntimeError(kExitUsage);
  }
}

// Verify's read-back on the command line: with --progress json its own
// events, one object each, as scripts have read them; otherwise the one
// renderer's bar or plain lines over the bytes read.
class VerifyPrinter : public MemoryReadEvents {
 public:
  VerifyPrinter(ProgressStyle style, const BootReadParams& p)
      : json_(style == ProgressStyle::Json),
        display_(style, std::cout, std::cerr, "", true),
        run_(display_.Sink(), p.start, p.length) {
    display_.Say("Reading the boot flash");
  }
  void OnRange(std::uint32_t upper) override { run_.OnRange(upper); }
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t position, std::uint32_t next) override {
    if (json_) {
      std::cout << "{\"event\":\"progress\",\"position\":" << position << ",\"next\":" << next << "}" << std::endl;
    }
    run_.OnProgress(position, next);
  }
  void OnDone(ResultCode code, std::uint32_t next) override {
    if (json_) {
      std::cout << "{\"event\":\"done\",\"code\":" << static_cast<int>(code) << ",\"next\":" << next
                << ",\"text\":" << JsonString(ResultText(code)) << "}" << std::endl;
    }
    run_.OnDone(code, next);
  }

 private:
  bool json_;
  RunDisplay display_;
  MemoryReadRunEvents run_;
};

// Selects the CPU board, confirms its JTAG ID and reads its record
// (revision letters for the flash algorithm). Null port after a failure
// that has been shown.
CommPort* SelectBoard(ProgrammerSession& s, const BootArgs& a, BoardInfoRecord& record, ResultCode& code) {
  s.Link().BeginCommand();
  code = s.Link().SelectTarget(Target::CpuBoard386);
  CommPort* port = s.Link().ProgrammerPort();
  if (code != rc::kSuccess || port == nullptr) {
    s.Op().ShowMessage(box_text::kBoxUnreachable, MessageIcon::Exclamation, "");
    return nullptr;
  }
  BoxLink box(*port, s.Box());
  if (code = ConfirmCpu386(box, s.Op()); code != rc::kSuccess) return nullptr;
  if (a.cpuRev) record.SetCpuRevision((*a.cpuRev)[0]);
  if (a.ioRev) record.SetIoRevision((*a.ioRev)[0]);
  BoardInfoRecord read = record;
  if (box.ExchangeBoardInfo(read) == rc::kSuccess) {
    record = read;
    if (a.cpuRev) record.SetCpuRevision((*a.cpuRev)[0]);
    if (a.ioRev) record.SetIoRevision((*a.ioRev)[0]);
  }
  return port;
}

}  // namespace

void RegisterBootCommands(CLI::App& app) {
  auto a = std::make_shared<BootArgs>();
  auto* boot = app.add_subcommand("boot", "The RQ700 CPU board's boot flash (80386EX, via JTAG)");
  boot->require_subcommand(1);

  auto addRevisions = [a](CLI::App* cmd, bool io) {
    cmd->add_option("--cpu-rev", a->cpuRev, "CPU board (7193) revision letter");
    if (io) cmd->add_option("--io-rev", a->ioRev, "I/O board (7194) revision letter");
  };

  auto* program = boot->add_subcommand("program", "Flash 7193 Boot: program a boot image with the board's identification");
  program->add_option("file", a->file, "Flash memory file (*.FMF)")->required();
  program->add_option("--serial", a->serial, "RQ700 serial number (at most 15 characters)");
  program->add_option("--cpu-serial", a->cpuSerial, "CPU board serial number");
  program->add_option("--io-serial", a->ioSerial, "I/O board serial number");
  addRevisions(program, true);
  AddProgrammerOptions(program, a->link, true);
  program->callback([a] {
    CheckLetter(a->cpuRev, "--cpu-rev");
    CheckLetter(a->ioRev, "--io-rev");
    for (const auto* s : {&a->serial, &a->cpuSerial, &a->ioSerial}) {
      if (*s && (*s)->size() > 15) {
        std::cerr << "serial numbers have at most 15 characters: " << **s << std::endl;
        throw CLI::RuntimeError(kExitUsage);
      }
    }
    const std::string path = Absolute(a->file);
    ProgrammerSession s(a->link);
    s.Op().SetOpenFile(path);
    s.SetStoppedText("the boot flash may be left erased or part-programmed; program it again");
    const InterruptGuard interrupts;
    FlagForm form(*a);
    const BootProgramOutcome out = ProgramBootFlash(s.Link(), s.Op(), s.Runner(), form, 0, 0, s.Boot());
    s.Finish(out.code);
  });

  auto* read = boot->add_subcommand("read", "Read Flash Boot Image into a text file (default \"" +
                                                std::string(ReadBackFileName(Target::CpuBoard386)) + "\" here)");
  read->add_option("out", a->out, "Output text file");
  addRevisions(read, false);
  AddProgrammerOptions(read, a->link, true);
  read->callback([a] {
    CheckLetter(a->cpuRev, "--cpu-rev");
    const std::string out = Absolute(a->out.empty() ? std::string(ReadBackFileName(Target::CpuBoard386)) : a->out);
    RefuseBadOutput(out);
    ProgrammerSession s(a->link);
    BootOptions o = s.Boot();
    o.outputPath = out;
    // Without --cpu-rev the board's own letter is used, read from the box.
    std::uint8_t cpu = 0;
    if (a->cpuRev) {
      cpu = static_cast<std::uint8_t>((*a->cpuRev)[0]);
    } else {
      BoardInfoRecord record;
      ResultCode code = 0;
      CommPort* port = SelectBoard(s, *a, record, code);
      if (port == nullptr) s.Finish(code);
      cpu = record.CpuRevision();
      o.boardConfirmed = true;
    }
    s.SetStoppedText(KeptText(o.outputPath));
    const InterruptGuard interrupts;
    const ResultCode code = ReadBootFlash(s.Link(), s.Op(), s.Runner(), cpu, nullptr, o);
    if (code == rc::kSuccess && s.Style() != ProgressStyle::Json) std::cout << "File saved to " << o.outputPath << std::endl;
    s.Finish(code);
  });

  auto* verify = boot->add_subcommand("verify", "Verify Flash: compare the boot flash with a boot image for this board");
  verify->add_option("file", a->file, "Flash memory file (*.FMF)")->required();
  addRevisions(verify, true);
  AddProgrammerOptions(verify, a->link, true);
  verify->callback([a] {
    CheckLetter(a->cpuRev, "--cpu-rev");
    CheckLetter(a->ioRev, "--io-rev");
    const std::string path = Absolute(a->file);
    ProgrammerSession s(a->link);
    s.Op().SetOpenFile(path);
    BoardInfoRecord record;
    ResultCode code = 0;
    CommPort* port = SelectBoard(s, *a, record, code);
    if (port == nullptr) s.Finish(code);
    BootReadParams p;
    p.port = port;
    p.toFile = false;
    p.path = "/dev/null";  // a verify writes no lines
    p.settleMs = s.Boot().readSettleMs;
    std::vector<std::uint8_t> readBack;
    const InterruptGuard interrupts;
    ResultCode readCode = rc::kTimeout;
    bool interrupted = false;
    {  // the bar's line is ended before anything else is said
      VerifyPrinter printer(s.Style(), p);
      interrupted = RunJobUntilInterrupted(
          [&](const StopToken& stop) { readCode = ReadBootImage(p, printer, stop, &readBack); });
    }
    if (interrupted) {
      s.SetStoppedText("the boot flash read was stopped; nothing was compared");
      s.Finish(rc::kStoppedByProgram);
    }
    s.Finish(FinishBootVerify(readCode, readBack, record, s.Op()));
  });

  for (const bool erase : {false, true}) {
    auto* cmd = boot->add_subcommand(erase ? "erase" : "blank",
                                     erase ? "Erase the boot flash" : "Blank check of the boot flash");
    addRevisions(cmd, true);
    AddProgrammerOptions(cmd, a->link, true);
    cmd->callback([a, erase] {
      CheckLetter(a->cpuRev, "--cpu-rev");
      CheckLetter(a->ioRev, "--io-rev");
      ProgrammerSession s(a->link);
      BoardInfoRecord record;
      ResultCode code = 0;
      CommPort* port = SelectBoard(s, *a, record, code);
      if (port == nullptr) s.Finish(code);
      BoxLink box(*port, s.Box());
      box.NormalizeFlashRevision(Target::CpuBoard386, record.CpuRevision(), record.IoRevision());
      s.Finish(BlankCheckOrErase(*port, s.Op(), erase, 5000));
    });
  }
}

}  // namespace tarnvale::cli
