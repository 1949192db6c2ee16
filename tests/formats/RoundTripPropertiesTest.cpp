// Rules every image file must keep whatever its bytes: what an independent
// writer put in a file is what the readers load, and no address ever wraps
// round to land data at the bottom of an image.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>

#include "FormatsTestUtil.h"
#include "core/formats/IntelHexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Any bytes at any base (64 KB boundaries included), any record length the
// format allows, either line end, with or without blank records, in any
// lane layout: the image loads exactly.
RC_GTEST_PROP(ImageRoundTrip, IntelHexLoadsWhatWasWritten, ()) {
  const Bytes image = *test::ImageBytesWithBlanks(700);
  const auto base = *::rc::gen::oneOf(::rc::gen::inRange<std::uint32_t>(0, 0x40000),
                                    ::rc::gen::map(::rc::gen::inRange<std::uint32_t>(1, 700),
                                                 [](std::uint32_t back) { return 0x30000 - back; }));
  test::HexImageOptions o;
  o.recordSize = *::rc::gen::inRange<std::size_t>(1, 256);
  o.eol = *::rc::gen::element<std::string>("\n", "\r\n");
  o.skipBlank = *::rc::gen::arbitrary<bool>();
  const auto lanes = *::rc::gen::element<std::uint8_t>(1, 2, 4);
  RC_PRE(std::any_of(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xFF; }));

  const auto end = base + static_cast<std::uint32_t>(image.size()) - 1;
  IntelHexFile f(test::WriteTemp("p.hex", test::HexImageText(base, image, o)), base, end, 1, lanes);
  RC_ASSERT(test::Load(f) == 0);
  RC_ASSERT(test::Slice(f.ImageBytes(), 0, image.size()) == image);
  RC_ASSERT(!f.Dropped().Any());
}

// A record anywhere in the 33-bit space a reader can compute: the bytes
// inside the image land at their own offsets, every other byte is counted as
// left out, and nothing lands anywhere else.
RC_GTEST_PROP(ImageRoundTrip, StoredBytesNeverWrap, ()) {
  const auto base = *::rc::gen::element<std::uint32_t>(0, 0x1000, 0xFFFFF000u);
  const auto size = *::rc::gen::inRange<std::uint32_t>(1, 0x400);
  const auto n = *::rc::gen::inRange<std::size_t>(1, 256);
  const auto address = *::rc::gen::oneOf(
      ::rc::gen::inRange<std::uint64_t>(base >= 300 ? base - 300 : 0, std::uint64_t{base} + size + 300),
      ::rc::gen::inRange<std::uint64_t>(0xFFFFFF00ull, 0x100000100ull),
      ::rc::gen::inRange<std::uint64_t>(0x1FFFFFF00ull, 0x200000000ull));
  IntelHexFile f("unused.hex", base, base + size - 1, 1, 1);
  RC_ASSERT(f.AllocateImage() == 0);
  Bytes record(n);
  for (std::size_t i = 0; i < n; ++i) record[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  f.StoreAtAddress(address, record.data(), n);

  Bytes expected(size, 0xFF);
  std::uint64_t dropped = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t a = address + i;
    if (a >= base && a < std::uint64_t{base} + size) {
      expected[a - base] = record[i];
    } else {
      ++dropped;
    }
  }
  RC_ASSERT(test::Slice(f.ImageBytes(), 0, size) == expected);
  RC_ASSERT(f.Dropped().bytes == dropped);
}

}  // namespace
}  // namespace tarnvale
