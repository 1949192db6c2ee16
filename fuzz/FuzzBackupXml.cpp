// The backup file: loading it and walking its sections into the commands a
// restore sends, as a restore does with a file the person picked, and
// comparing it as `backup diff` does (text and JSON, whatever its bytes).
#include <tinyxml2.h>

#include "core/backup/BackupDiff.h"
#include "core/backup/BackupDocument.h"
#include "core/backup/BackupLink.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;
using namespace tarnvale::backup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile scratch("backup.xml");
  const auto& path = scratch.Write(data, size);
  tinyxml2::XMLDocument doc;
  std::string error;
  if (LoadBackupFile(path.string(), doc, error) != FileState::Loaded) return 0;
  ReadIdentity(doc);
  for (const Parameter& p : WalkSetup(doc)) {
    TARNVALE_FUZZ_CHECK(ParameterCommand(p).rfind("MC", 0) == 0);
  }
  Skipped skipped;
  for (const MaterialEntry& e : WalkMaterials(doc, skipped)) {
    MaterialSelectCommand(e);
    MaterialCreateCommand(e);
  }
  for (const Part& part : WalkParts(doc, skipped)) {
    PartSelectCommand(part);
    PartCreateCommand(part);
    PartFileCommand(part);
    for (const Bend& b : part.bends) BendCommand(b);
  }
  // Whatever a walk could not use is named, never silently dropped as empty text.
  for (const std::string& s : skipped) TARNVALE_FUZZ_CHECK(!s.empty());
  // Against an empty backup every record is a difference; the JSON is made
  // with the strict UTF-8 check, so a byte that slipped through unconverted
  // throws here.
  tinyxml2::XMLDocument empty;
  WriteIdentity(empty, {});
  const BackupDiffResult diff = DiffBackups(empty, doc);
  DiffText(diff);
  DiffJson(diff).dump();
  TARNVALE_FUZZ_CHECK(DiffBackups(doc, doc).Empty());
  return 0;
}
