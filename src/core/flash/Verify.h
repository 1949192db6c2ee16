#pragma once
// Verify after programming: the controller reads back what a flash run
// wrote, through the memory-line exchange of the dump (page, then one line
// per 0x11 request), and each byte is compared with the image.
//
// Only what the stream programmed is read: the data packets' bytes, joined
// where they touch. Blank stretches were never sent, so they are never read.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/flash/EngineTimings.h"
#include "core/jobs/StopToken.h"
#include "core/platform/Clock.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

class CommPort;

inline constexpr const char* kPhaseVerifying = "Verifying";

// One stretch of device memory the stream wrote, and the bytes it wrote.
struct ProgrammedRange {
  std::uint32_t start = 0;
  std::vector<std::uint8_t> bytes;
};

// The ranges a programming stream writes: data packets at their page
// (set-page packets give the upper 16 address bits), in stream order, joined
// when one begins where the previous ended. Bytes at or above `below` are
// left out (memory the device takes packets for but does not write).
std::vector<ProgrammedRange> ProgrammedRanges(const std::vector<Packet>& stream,
                                              std::uint64_t below = UINT64_MAX);

struct VerifyOutcome {
  std::uint64_t bytes = 0;      // bytes compared
  std::uint64_t differing = 0;  // of them, how many differed
  std::uint32_t firstAddress = 0;
  std::uint8_t expected = 0;    // the image's byte at firstAddress
  std::uint8_t read = 0;        // the device's
  bool Failed() const { return differing != 0; }
};

// "Verified N bytes".
std::string VerifiedText(std::uint64_t bytes);
// "Verify failed at 0x%08X: expected 0x%02X, read 0x%02X; N of M bytes differ".
std::string VerifyFailedText(const VerifyOutcome& outcome);

// Reads every range back and compares it. '0' when all bytes matched; 'D'
// (data mismatch) when any differed, with the first difference and the count
// in `outcome` (every range is still read, so the count is whole); the
// exchange's own code when a page or a line fails; kStoppedByProgram on a
// stop. `progress` hears the bytes compared so far, now and then and at
// the end.
ResultCode VerifyProgrammed(CommPort& port, const std::vector<ProgrammedRange>& ranges,
                            const EngineTimings& timings, const Clock& clock, const StopToken& stop,
                            VerifyOutcome& outcome,
                            const std::function<void(std::uint64_t)>& progress = {});

}  // namespace tarnvale
