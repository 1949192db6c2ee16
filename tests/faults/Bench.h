#pragma once
// One engine's bench in the fault suites: a device model behind the
// in-memory link on a fake clock, a port on the link, a scratch folder, and
// the short time limits every engine runs with here.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/flash/EngineTimings.h"
#include "core/flash/MemoryDump.h"
#include "core/link/CommPort.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/BoxCommands.h"
#include "core/protocol/Util.h"
#include "core/roles/PortRoles.h"
#include "sim/BoxDevice.h"
#include "sim/Rq700Device.h"
#include "support/FakeLink.h"
#include "support/ImageGen.h"
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
  std::unique_ptr<sim::SimDevice> owned;  // a device the bench made (outlives the wire)
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
  // A controller whose RAM holds `size` varied bytes (a dump of many lines,
  // not one fill), dumped to memory.Bin, which held kOldContent; returns the RAM.
  std::vector<std::uint8_t> DumpRam(MemoryReadRequest& r, std::uint32_t size, WireFaults faults = {}) {
    auto device = std::make_unique<sim::Rq700Device>(sim::DeviceOptions{});
    const std::vector<std::uint8_t> memory = PseudoRandomBytes(size, 8);
    device->Memory().Program(0, memory.data(), memory.size());
    Attach(*device, std::move(faults));
    owned = std::move(device);
    r.port = &port;
    r.end = size - 1;
    r.path = (dir / "memory.Bin").string();
    r.timings = Timings();
    WriteFileBytes(r.path, kOldContent);
    return memory;
  }
  // The box's read-back of a PIC18F252's first 256 bytes to its file, which
  // held kOldContent; the target is selected.
  BootReadParams ReadBack(WireFaults faults = {}, sim::BoxOptions options = {}) {
    auto device = std::make_unique<sim::BoxDevice>(std::move(options));
    Attach(*device, std::move(faults));
    owned = std::move(device);
    Select(Target::Pic18F252);
    BootReadParams p;
    p.port = &port;
    p.memoryType = Target::Pic18F252;
    p.start = 0;
    p.length = 256;
    p.path = (dir / ReadBackFileName(Target::Pic18F252)).string();
    p.settleMs = 0;
    p.silenceMs = kRecordSilenceMs;
    WriteFileBytes(p.path, kOldContent);
    return p;
  }
};

}  // namespace tarnvale::test
