// pic18 and pic30: the PIC18F252 and dsPIC30F commands of the Universal
// Programmer on the command line, through the same core commands as the
// GUI's "PIC18F252" and "PIC30FXXXX" menus.
#include <iostream>
#include <memory>

#include "cli/ProgrammerCli.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/PicCommands.h"

namespace tarnvale::cli {
namespace {

struct PicArgs {
  ProgrammerArgs link;
  std::string file;
  std::string out;
  long seed = kNoSeed;
  static constexpr long kNoSeed = -1000000;
};

// `flash` runs the chip's own flash command (the dsPIC30F's checks its ID first).
using FlashCommand = ResultCode (*)(LinkState&, Operator&, JobRunner&, const PicOptions&);

void AddFlash(CLI::App* group, const std::shared_ptr<PicArgs>& a, FlashCommand flash, const char* help) {
  auto* cmd = group->add_subcommand("flash", help);
  cmd->add_option("file", a->file, "Hex file (*.HEX)")->required();
  AddProgrammerOptions(cmd, a->link, true);
  cmd->callback([a, flash] {
    const std::string path = Absolute(a->file);
    ProgrammerSession s(a->link);
    s.Op().SetOpenFile(path);
    s.SetStoppedText("the chip may be left erased or part-programmed; flash it again");
    const InterruptGuard interrupts;
    const ResultCode code = flash(s.Link(), s.Op(), s.Runner(), s.Pic());
    s.Finish(code);
  });
}

void AddReadEeprom(CLI::App* group, const std::shared_ptr<PicArgs>& a, Target target) {
  auto* cmd = group->add_subcommand(
      "read-eeprom", std::string("Read the EEPROM into a text file (default \"") +
                         std::string(ReadBackFileName(target)) +
                         "\" here)");
  cmd->add_option("out", a->out, "Output text file");
  AddProgrammerOptions(cmd, a->link, true);
  cmd->callback([a, target] {
    const std::string out = Absolute(a->out.empty() ? std::string(ReadBackFileName(target)) : a->out);
    RefuseBadOutput(out);
    ProgrammerSession s(a->link);
    PicOptions o = s.Pic();
    o.outputPath = out;
    s.SetStoppedText(KeptText(o.outputPath));
    const InterruptGuard interrupts;
    const ResultCode code = ReadPicEeprom(s.Link(), s.Op(), s.Runner(), target, o);
    if (code == rc::kSuccess && s.Style() != ProgressStyle::Json) std::cout << "File saved to " << o.outputPath << std::endl;
    s.Finish(code);
  });
}

void AddSimple(CLI::App* group, const std::shared_ptr<PicArgs>& a, Target target) {
  auto* blank = group->add_subcommand("blank", "Blank check of the program memory");
  AddProgrammerOptions(blank, a->link, true);
  blank->callback([a, target] {
    ProgrammerSession s(a->link);
    s.Finish(PicBlankCheck(s.Link(), s.Op(), target, s.Pic()));
  });
  auto* erase = group->add_subcommand("erase", "Erase the program memory");
  AddProgrammerOptions(erase, a->link, true);
  erase->callback([a, target] {
    ProgrammerSession s(a->link);
    s.Finish(PicEraseFlash(s.Link(), s.Op(), target, s.Pic()));
  });
  auto* id = group->add_subcommand("id", "Read the device ID and revision");
  AddProgrammerOptions(id, a->link, true);
  id->callback([a, target] {
    ProgrammerSession s(a->link);
    s.Finish(ReadCpuId(s.Link(), s.Op(), target, s.Pic()));
  });
}

}  // namespace

void RegisterPicCommands(CLI::App& app) {
  auto a18 = std::make_shared<PicArgs>();
  auto* pic18 = app.add_subcommand("pic18", "The PIC18F252 on the Universal Programmer");
  pic18->require_subcommand(1);
  AddFlash(pic18, a18, FlashPic18F252, "Program the PIC18F252 from a HEX file");
  AddReadEeprom(pic18, a18, Target::Pic18F252);
  AddSimple(pic18, a18, Target::Pic18F252);
  auto* fill = pic18->add_subcommand("fill-eeprom", "Fill the EEPROM from a seed (Load EEPROM Data)");
  fill->add_option("--seed", a18->seed, "16-bit seed, 0 to 65535 (default: from the clock)");
  AddProgrammerOptions(fill, a18->link, true);
  fill->callback([a18] {
    if (a18->seed != PicArgs::kNoSeed && (a18->seed < 0 || a18->seed > 0xFFFF)) {
      std::cerr << "--seed wants 0 to 65535" << std::endl;
      throw CLI::RuntimeError(kExitUsage);
    }
    ProgrammerSession s(a18->link);
    PicOptions o = s.Pic();
    if (a18->seed != PicArgs::kNoSeed) o.seed = static_cast<std::uint16_t>(a18->seed);
    s.Finish(LoadPic18EepromData(s.Link(), s.Op(), o));
  });
  auto* test = pic18->add_subcommand("test-eeprom", "Check the EEPROM against the last fill");
  AddProgrammerOptions(test, a18->link, true);
  test->callback([a18] {
    ProgrammerSession s(a18->link);
    s.Finish(TestPic18Eeprom(s.Link(), s.Op(), s.Pic()));
  });

  auto a30 = std::make_shared<PicArgs>();
  auto* pic30 = app.add_subcommand("pic30", "The dsPIC30F on the Universal Programmer");
  pic30->require_subcommand(1);
  AddFlash(pic30, a30, FlashDsPic30F, "Check the dsPIC30F's ID, then program it from a HEX file");
  AddReadEeprom(pic30, a30, Target::DsPic30F);
  AddSimple(pic30, a30, Target::DsPic30F);
}

}  // namespace tarnvale::cli
