#pragma once
// One engine's bench in the fault suites: a device model behind the
// in-memory link on a fake clock, a port on the link, a scratch folder, and
// the short time limits every engine runs with here.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/flash/EngineTimings.h"
#include "core/link/CommPort.h"
#include "core/programmer/BoxCommands.h"
#include "core/protocol/Util.h"
#include "core/roles/PortRoles.h"
#include "support/FakeLink.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {

inline constexpr std::uint32_t kEraseLimitMs = 3000;
inline constexpr std::uint32_t kAckLimitMs = 2000;
inline constexpr std::uint32_t kLineLimitMs = 1000;
inline constexpr std::uint32_t kRecordSilenceMs = 1000;
// What a file under its final name held before a run that must not change it.
inline constexpr const char* kOldContent = "an earlier file that a failed or stopped run must not touch\n";

inline EngineTimings Timings() {
  EngineTimings t;
  t.eraseTimeoutMs = kEraseLimitMs;
  t.erasePollMs = 50;
  t.ackTimeoutMs = kAckLimitMs;
  t.dumpLineTimeoutMs = kLineLimitMs;
  return t;
}

inline BoxTimings FastBox() {
  BoxTimings t;
  t.jtagSettleMs = 50;
  t.jtagSettle386Ms = 50;
  t.boardInfoSettleMs = 50;
  t.recordSilenceMs = kRecordSilenceMs;
  return t;
}

struct Bench {
  FakeClock clock{1000};
  RecordingOperator op;
  CommPort port;
  std::unique_ptr<FakeLink> wire;
  std::filesystem::path dir = MakeTempDir("faults");

  void Attach(sim::SimDevice& device, WireFaults faults = {}) {
    wire = std::make_unique<FakeLink>(clock, device, std::move(faults));
    wire->AttachTo(port);
  }
  // The box's select-target exchange (always the first reply on the wire).
  void Select(Target target) {
    port.Write(SelectTargetPacket(target));
    ASSERT_EQ(WaitStatusByte(port, 500, clock), '0');
  }
};

}  // namespace tarnvale::test
