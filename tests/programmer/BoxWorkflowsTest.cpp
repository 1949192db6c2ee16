// The box's menu commands as the operator sees them, against the simulated
// box on the programmer port and against a port that will not open.
#include <gtest/gtest.h>

#include "support/SimBox.h"
#include "core/programmer/BoxWorkflows.h"
#include "support/RecordingOperator.h"

namespace tarnvale {
namespace {

struct Case {
  const char* what;
  sim::BoxOptions options;
  bool portOpens;
  std::function<ResultCode(LinkState&, Operator&)> command;
  ResultCode code;
  std::vector<std::string> messages;
};

TEST(BoxMenuCommands, WhatTheOperatorIsShown) {
  BoxTimings fast;  // on each case's box clock
  sim::BoxOptions noJtag;
  noJtag.noJtag = true;
  sim::BoxOptions otherId;
  otherId.jtagId = 0x12345678;
  const std::string portError = "Error in Opening Auxillary Port: ";
  const Case cases[] = {
      {"version", {}, true, [&](LinkState& l, Operator& o) { return ShowProgrammerVersion(l, o, fast); },
       '0', {"Universal Programmer Version UP 3.02 (simulated)"}},
      {"version, no port", {}, false,
       [&](LinkState& l, Operator& o) { return ShowProgrammerVersion(l, o, fast); }, 'G',
       {portError, "Port Error"}},
      {"JTAG ID", {}, true, [&](LinkState& l, Operator& o) { return ShowCpu386JtagId(l, o, fast); },
       '0', {"JTAG ID = 0x28270013"}},
      {"JTAG ID, cable off", noJtag, true,
       [&](LinkState& l, Operator& o) { return ShowCpu386JtagId(l, o, fast); }, 'A',
       {box_text::kJtagCableAdvice}},
      {"JTAG ID, selection fails", {}, false,
       [&](LinkState& l, Operator& o) { return ShowCpu386JtagId(l, o, fast); }, 'G',
       {portError, "Failed to Open Port"}},
      {"TN835 CPU ID", {}, true, [&](LinkState& l, Operator& o) { return ShowTn835CpuId(l, o, fast); },
       '0', {"JTAG ID = 0x11F4401D"}},
      {"TN835 CPU ID, another ID", otherId, true,
       [&](LinkState& l, Operator& o) { return ShowTn835CpuId(l, o, fast); }, 'D',
       {"JTAG ID = 0x12345678"}},
      {"TN835 CPU ID, none read", noJtag, true,
       [&](LinkState& l, Operator& o) { return ShowTn835CpuId(l, o, fast); }, 'A',
       {"Too few bytes sent (the box sent nothing; a JTAG ID reply is 10 bytes)"}},
  };
  for (const Case& c : cases) {
    test::BoxBench bench(c.options, c.portOpens);
    fast = test::FastBoxTimings(bench.box.Settle());
    LinkState& link = *bench.link;
    test::RecordingOperator& op = bench.op;
    EXPECT_EQ(c.command(link, op), c.code) << c.what;
    auto texts = op.MessageTexts();
    if (!texts.empty() && texts[0].rfind(portError, 0) == 0) texts[0] = portError;
    EXPECT_EQ(texts, c.messages) << c.what;
    // Every command ends on the controller side: the programmer port is closed.
    EXPECT_FALSE(link.ProgrammerPort() && link.ProgrammerPort()->IsOpen()) << c.what;
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
