// The box's menu commands as the operator sees them (the box's own, the PIC
// socket's and the boot flash's), against the simulated box on the
// programmer port, a box with a fault, and a port that will not open.
#include <gtest/gtest.h>

#include "support/SimBox.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/BoxWorkflows.h"
#include "core/programmer/PicCommands.h"
#include "support/DirectRunner.h"
#include "support/RecordingOperator.h"

namespace tarnvale {
namespace {

// A form that types what it is given.
struct TypedForm : SerialRevisionForm {
  std::function<void(SerialRevisionInput&)> type;
  bool ok = true;
  int shown = 0;
  bool Show(SerialRevisionInput& input) override {
    ++shown;
    if (type) type(input);
    return ok;
  }
};

// A link whose programmer port is the simulated box (or a port that will
// not open), with each command family's options on the box's clock.
struct Bench : test::BoxBench {
  Bench(sim::BoxOptions options, bool portOpens) : BoxBench(std::move(options), portOpens), runner(op) {
    fast = test::FastBoxTimings(box.Settle());
    fast.rawReplyEndsWhenWhole = true;  // the simulator answers at once
    pic.box = boot.box = fast;
    pic.statusWaitMs = pic.recordSilenceMs = boot.statusWaitMs = test::kPatientStatusWaitMs;
  }
  BoxTimings fast;
  PicOptions pic;
  BootOptions boot;
  test::DirectRunner runner;
  TypedForm form;
};

struct Case {
  const char* what;
  sim::BoxOptions options;
  bool portOpens;
  std::function<ResultCode(Bench&)> command;
  ResultCode code;
  std::vector<std::string> messages;
  bool formShown = false;  // the serial / revision form of "Program Boot"
};

ResultCode FillThenTest(Bench& b) {
  b.pic.seed = 7;
  if (LoadPic18EepromData(*b.link, b.op, b.pic) != '0') return 'X';
  b.op.messages.clear();
  return TestPic18Eeprom(*b.link, b.op, b.pic);
}

ResultCode ProgramBoot(Bench& b) {
  // Serials left empty: the form's fields are checked before anything is programmed.
  b.form.type = [](SerialRevisionInput& in) {
    for (auto f : {SerialField::ControllerSerial, SerialField::CpuSerial, SerialField::IoSerial}) {
      in.Field(f).clear();
    }
  };
  return ProgramBootFlash(*b.link, b.op, b.runner, b.form, 0, 0, b.boot).code;
}

// The boot flash's blank check or erase on the CPU board (the board dialog's buttons).
ResultCode BootBlankOrErase(Bench& b, bool erase) {
  CommandBracket bracket(*b.link);
  if (b.link->SelectTarget(Target::CpuBoard386) != '0') return 'X';
  return BlankCheckOrErase(*b.link->ProgrammerPort(), b.op, erase, 10000);
}

// Every menu command of the box ends on the controller side and nothing is
// programmed before its checks have passed.
TEST(BoxMenuCommands, WhatTheOperatorIsShown) {
  sim::BoxOptions noJtag;
  noJtag.noJtag = true;
  sim::BoxOptions otherId;
  otherId.jtagId = 0x12345678;
  sim::BoxOptions badCell;
  badCell.eepromBad = 0x42;
  sim::BoxOptions otherPic;
  otherPic.pic30Device = 0x01C1;
  sim::BoxOptions silent;  // the selection is answered, nothing after it
  silent.faults.push_back({sim::Fault::Kind::SilentAfter, 1, 0});
  sim::BoxOptions notBlank;
  notBlank.bootImage.assign(kBootFlashLength, 0xFF);
  notBlank.bootImage[100] = 0x7F;
  const std::string portError = "Error in Opening Auxillary Port: ";
  const std::string jtagWrong = "Invalid JTAG ID 0x12345678, should read 0x28270013 for 80386EX CPU";
  const auto pic18 = Target::Pic18F252;
  const Case cases[] = {
      {"version", {}, true, [](Bench& b) { return ShowProgrammerVersion(*b.link, b.op, b.fast); },
       '0', {"Universal Programmer Version UP 3.02 (simulated)"}},
      {"version, no port", {}, false, [](Bench& b) { return ShowProgrammerVersion(*b.link, b.op, b.fast); },
       'G', {portError, "Port Error"}},
      {"JTAG ID", {}, true, [](Bench& b) { return ShowCpu386JtagId(*b.link, b.op, b.fast); },
       '0', {"JTAG ID = 0x28270013"}},
      {"JTAG ID, cable off", noJtag, true, [](Bench& b) { return ShowCpu386JtagId(*b.link, b.op, b.fast); },
       'A', {box_text::kJtagCableAdvice}},
      {"TN835 CPU ID", {}, true, [](Bench& b) { return ShowTn835CpuId(*b.link, b.op, b.fast); },
       '0', {"JTAG ID = 0x11F4401D"}},
      {"TN835 CPU ID, another ID", otherId, true,
       [](Bench& b) { return ShowTn835CpuId(*b.link, b.op, b.fast); },
       'D', {"JTAG ID = 0x12345678"}},
      {"TN835 CPU ID, none read", noJtag, true, [](Bench& b) { return ShowTn835CpuId(*b.link, b.op, b.fast); },
       'A', {"Too few bytes sent (the box sent nothing; a JTAG ID reply is 10 bytes)"}},
      {"PIC18F252 blank", {}, true, [=](Bench& b) { return PicBlankCheck(*b.link, b.op, pic18, b.pic); },
       '0', {"Flash Memory is Blank"}},
      {"PIC18F252 blank, silent box", silent, true,
       [=](Bench& b) {
         b.pic.statusWaitMs = 300;  // nothing is coming: no need to be patient
         return PicBlankCheck(*b.link, b.op, pic18, b.pic);
       },
       '@', {"Timeout while waiting for a response"}},
      {"erase", {}, true, [=](Bench& b) { return PicEraseFlash(*b.link, b.op, pic18, b.pic); },
       '0', {"Success"}},
      {"erase, no port", {}, false, [=](Bench& b) { return PicEraseFlash(*b.link, b.op, pic18, b.pic); },
       rc::kPortOpenFailed, {portError, "Failed to Open Port"}},
      {"EEPROM test before any fill", {}, true, [](Bench& b) { return TestPic18Eeprom(*b.link, b.op, b.pic); },
       'D', {"Data Mis-match"}},
      {"EEPROM fill and test", {}, true, FillThenTest, '0', {"EEPROM Test Successfull"}},
      {"EEPROM fill and test, bad cell", badCell, true, FillThenTest, 'D', {"Data Mis-match"}},
      {"PIC18F252 ID", {}, true, [=](Bench& b) { return ReadCpuId(*b.link, b.op, pic18, b.pic); },
       '0', {"Device Revision = 0x04\r\nDevice ID = 0x24"}},
      {"Flash dsPIC30F, another chip", otherPic, true,
       [](Bench& b) {
         b.op.openFile = "/nonexistent.HEX";
         return FlashDsPic30F(*b.link, b.op, b.runner, b.pic);
       },
       'D', {"Device Info:\r\nDevice ID = 0x1C1\r\nDevice Rev. = 0x1001\r\n\r\n"
             "Should Read:\r\nDevice ID = 0x1C0\r\nDevice Rev. = 0x1001\r\n"}},
      {"boot blank check", notBlank, true, [](Bench& b) { return BootBlankOrErase(b, false); },
       'C', {"Memory is not blank"}},
      {"boot erase, then blank", notBlank, true,
       [](Bench& b) -> ResultCode {
         if (BootBlankOrErase(b, true) != '0') return 'X';
         return BootBlankOrErase(b, false);
       },
       '0', {"Success", "Flash Memory is Blank"}},
      {"Program Boot, no box", {}, false, ProgramBoot, 'G', {portError, box_text::kBoxUnreachable}},
      {"Program Boot, no JTAG ID", noJtag, true, ProgramBoot, 'A', {box_text::kJtagCableAdvice}},
      {"Program Boot, wrong JTAG ID", otherId, true, ProgramBoot, 'D', {jtagWrong}},
      {"Program Boot, form cancelled", {}, true,
       [](Bench& b) {
         b.form.ok = false;
         return ProgramBoot(b);
       },
       kStoppedByOperator, {}, true},
      {"Program Boot, empty serials", {}, true, ProgramBoot, 'D',
       {std::string(boot_text::kCheckFields) + "1) Controller Serial Number\r\n2) CPU board Serial Number\r\n"
                                               "3) IO Serial Number\r\n"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench(c.options, c.portOpens);
    EXPECT_EQ(c.command(bench), c.code);
    // A port that will not open is named, with the system's reason after it.
    auto texts = bench.op.MessageTexts();
    const std::string named = portError + "/nonexistent/tty";
    if (!texts.empty() && texts[0].rfind(named, 0) == 0 && texts[0].size() > named.size() + 2) {
      texts[0] = portError;
    }
    EXPECT_EQ(texts, c.messages);
    // Every command ends on the controller side: the programmer port is closed.
    EXPECT_FALSE(bench.link->ProgrammerPort() && bench.link->ProgrammerPort()->IsOpen());
    EXPECT_EQ(bench.runner.programmingRuns, 0);
    EXPECT_EQ(bench.form.shown, c.formShown ? 1 : 0);
  }
}

TEST(BoxMenuCommands, TestDialogOpensOnlyAfterASelection) {
  test::BoxBench bench;
  LinkState& link = *bench.link;
  test::RecordingOperator& op = bench.op;
  int opened = 0;
  EXPECT_EQ(RunCpuBoardTest(link, op, [&](CommPort& port) {
              ++opened;
              EXPECT_TRUE(port.IsOpen());
            }),
            '0');
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(bench.box.Device().Target(), 4);

  bench.settings.SetAuxCOMPort("/nonexistent/tty");
  EXPECT_EQ(RunCpuBoardTest(link, op, [&](CommPort&) { ++opened; }), 'G');
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(op.MessageTexts().back(), "Failed to Open Port");
}

}  // namespace
}  // namespace tarnvale
