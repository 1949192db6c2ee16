// What the programming dialog and the read-back list show when the image or
// the reported range was more than the device can take.
#include <gtest/gtest.h>

#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "support/RecordingOperator.h"
#include "support/QuietLoadView.h"

namespace tarnvale {
namespace {

// Keeps the free text field, the one place the dialog has for both texts.
class FreeTextView : public test::QuietLoadView {
 public:
  void SetFreeText(const std::string& text) override { freeText = text; }
  std::string freeText;
};

// The boot version and a warning share the field in either order; neither
// hides the other.
TEST(ImageWarning, TheDialogShowsTheWarningBesideTheBootVersion) {
  const std::string both = "Boot Version = 1.07\nWarning: a.FMF: ignored 2 bytes";
  const struct {
    const char* what;  // in the order told: v the version, w the warning
    std::string text;
  } cases[] = {
      {"w", "Warning: a.FMF: ignored 2 bytes"}, {"v", "Boot Version = 1.07"}, {"vw", both}, {"wv", both},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FreeTextView view;
    test::RecordingOperator op;
    LoadMemoryModel model(ProgrammingRequest{}, view, op);
    for (const char* told = c.what; *told; ++told) {
      if (*told == 'v') model.OnBootVersion("1.07");
      if (*told == 'w') model.OnWarning("a.FMF: ignored 2 bytes");
    }
    EXPECT_EQ(view.freeText, c.text);
    EXPECT_TRUE(op.messages.empty()) << "a warning is no message box";
  }
}

TEST(ImageWarning, ADumpRangeIsCutAtTheTopOfTheAddressSpace) {
  struct Case {
    std::uint32_t start, end, clippedEnd;
    std::string text;
  } cases[] = {
      {0x03C00000, 0x03FFFFFF, 0x03FFFFFF, ""},
      {0, 0xFFFFFFFF, 0x03FFFFFF,
       "the controller reported the range 0x00000000-0xFFFFFFFF; only 0x00000000-0x03FFFFFF, within its "
       "26-bit address space, is read"},
      {0x03FFFF00, 0x04000000, 0x03FFFFFF,
       "the controller reported the range 0x03FFFF00-0x04000000; only 0x03FFFF00-0x03FFFFFF, within its "
       "26-bit address space, is read"},
  };
  for (const Case& c : cases) {
    std::uint32_t end = c.end;
    EXPECT_EQ(ClipDumpRange(c.start, end), c.text);
    EXPECT_EQ(end, c.clippedEnd);
  }
}

}  // namespace
}  // namespace tarnvale
