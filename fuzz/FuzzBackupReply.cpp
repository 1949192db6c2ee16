// The backup link's reply gatherer: a request goes out and the input is what
// the controller sends back, a few bytes at a time.
#include <string>

#include "core/backup/BackupLink.h"
#include "core/link/CommPort.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fuzz::FakeClock clock;
  CommPort port;
  port.Attach(std::make_unique<fuzz::MemoryStream>(std::vector<std::uint8_t>(data + 1, data + size), clock,
                                                  data[0] & 0x1F, true));
  std::string reply;
  ExchangeError why = ExchangeError::None;
  const bool ok = ExchangeBackupCommand(port, "MLS", reply, &why, clock, kBackupReplyTimeoutMs);
  if (ok) {
    TARNVALE_FUZZ_CHECK(why == ExchangeError::None);
    TARNVALE_FUZZ_CHECK(reply.size() <= kMaxBackupPayload);
    const auto fields = SplitBackupFields(reply);
    TARNVALE_FUZZ_CHECK(!fields.empty());
    BackupField(fields, fields.size() + 1);
    BackupListCount(reply);
  } else {
    TARNVALE_FUZZ_CHECK(reply.empty());
    TARNVALE_FUZZ_CHECK(why != ExchangeError::None);
  }
  return 0;
}
