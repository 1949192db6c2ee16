#pragma once
// The menu commands of the box that need nothing but the box: each runs
// between BeginCommand and EndCommand and tells the operator its outcome.

#include <functional>

#include "core/operator/Operator.h"
#include "core/programmer/BoxCommands.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {

inline constexpr const char* kPortErrorText = "Port Error";

// "Universal Programmer Version": the version text, "Port Error" when the
// programmer port will not open, else the reply's result.
ResultCode ShowProgrammerVersion(LinkState& link, Operator& op, const BoxTimings& timings = {});
// "Read JTAG ID" (7193 JTAG): the 80386EX check's words. A failed selection
// is reported through its result rather than passing in silence.
ResultCode ShowCpu386JtagId(LinkState& link, Operator& op, const BoxTimings& timings = {});
// "Read CPU ID" (TN835 Tools > Boot): "JTAG ID = 0x%X" whether or not it is
// the TN835's; with no ID read, the result text ("Too few bytes sent").
ResultCode ShowTn835CpuId(LinkState& link, Operator& op, const BoxTimings& timings = {});
// "7193  JTAG Test": selects the CPU board and runs `dialog` on the
// programmer port; a failed selection is shown and opens nothing.
ResultCode RunCpuBoardTest(LinkState& link, Operator& op, const std::function<void(CommPort&)>& dialog);

}  // namespace tarnvale
