#pragma once
// A simulated RQ750 in Data Backup mode: the framed text protocol with its
// checksums, a setup parameter list, a material table and a part library,
// with the write commands that really change them.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/backup/BackupDocument.h"
#include "sim/SimDevice.h"

namespace tarnvale::sim {

struct Rq750Content {
  std::vector<backup::Parameter> parameters;
  std::vector<backup::MaterialEntry> materials;
  // Parts carry their category and subcategory ("" where the controller
  // has none; the backup files those under "None").
  std::vector<backup::Part> parts;
  bool operator==(const Rq750Content&) const = default;
};

// Content of the standard shape: every material with Default and
// UserDefined entries, parts in categories and subcategories (one with none)
// using every bend type (Shear only when `withShear`). The seed changes the
// values but not the names, thicknesses or part names, so two seeds restore
// over each other entry for entry.
Rq750Content MakeRq750Content(std::uint32_t seed, bool withShear);
// A replaced controller: the parameter names with value 0, nothing else.
Rq750Content MakeEmptyRq750Content(bool withShear);

nlohmann::json ContentToJson(const Rq750Content& content);
// False with a reason when the JSON does not have the content's shape.
bool ContentFromJson(const nlohmann::json& j, Rq750Content& content, std::string& error);

struct Rq750Options {
  std::string model = "RQ750-24";
  std::string modelVersion = "4.12";
  std::string protocol = "3.2";
  std::optional<std::uint32_t> silentAfter;  // stop answering after N exchanges
  std::uint32_t pstBusy = 0;                 // answer "PST" with '9' this many times per part
  bool wrongModel = false;                   // answer "vX" as an RQ720
  std::optional<std::uint32_t> closeAfter;   // hang up the link instead of answering exchange N+1
  std::string address = "01";                // the address replies carry
  bool lowerHex = false;                     // reply checksums in lower-case hex
  std::uint32_t badChecksumEvery = 0;        // every Nth reply with a wrong checksum (0: none)
  std::uint32_t nstNoAnswer = 0;             // the Nth "NST" is lost: no effect, no answer (0: none)
};

// Parses a fault text: "silent-after:N", "close-after:N", "busy:PST=N",
// "wrong-model", "address:NN", "lower-hex", "bad-checksum:N" or
// "no-answer:NST=N".
bool ApplyRq750Fault(const std::string& text, Rq750Options& options, std::string& error);

class Rq750Device : public SimDevice {
 public:
  Rq750Device(Rq750Options options, Rq750Content content);

  void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Output>& out) override;
  void ResetLink() override;

  const Rq750Content& Content() const { return content_; }
  // Every command text received, in order (for tests and the log).
  const std::vector<std::string>& Received() const { return received_; }
  // Read by tests on their own thread while the device serves on another.
  std::uint32_t Exchanges() const { return exchanges_.load(); }

  // The reply payload (status last) for one command; nothing when silent.
  std::optional<std::string> Handle(const std::string& command);

 private:
  std::string ListOpen(std::size_t count) const;
  std::string PartRecord(const backup::Part& p) const;
  static std::string BendRecord(const backup::Bend& b);

  Rq750Options options_;
  Rq750Content content_;
  std::vector<std::uint8_t> frame_;
  bool inFrame_ = false;
  std::vector<std::string> received_;
  std::atomic<std::uint32_t> exchanges_{0};

  // Listing cursors and selections.
  std::size_t paramCursor_ = 0;
  std::size_t materialCursor_ = 0;
  std::size_t partCursor_ = 0;
  std::size_t bendCursor_ = 0;
  std::optional<std::size_t> selectedMaterial_;
  std::optional<std::size_t> selectedPart_;
  std::optional<std::size_t> editingPart_;
  std::string busyName_;
  std::uint32_t busyLeft_ = 0;
  std::uint32_t replies_ = 0;
  std::uint32_t nstSeen_ = 0;
};

// A reply frame around `payload`: STX "01" payload checksum ETX.
std::vector<std::uint8_t> Rq750Frame(const std::string& payload);
// The same from another address, in either hex case, optionally with the
// checksum off by one (a reply damaged on the way, or a firmware that sums
// differently).
std::vector<std::uint8_t> Rq750Frame(const std::string& payload, const std::string& address, bool lowerHex,
                                     bool wrongChecksum);

}  // namespace tarnvale::sim
