#pragma once
// Shared helpers of the image format tests.
#include <rapidcheck.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/formats/BoardInfoRecord.h"
#include "core/formats/MotorolaSRecFile.h"

namespace tarnvale::test {

// A board record every check lets through; its CPU board serial has all 15
// characters.
BoardInfoRecord GoodBoardRecord();

// Opens, allocates and loads; returns the first nonzero code.
ResultCode Load(IntelHexFile& file);
// Opens, allocates and loads S-records with the given regions and displacement.
ResultCode LoadSRec(MotorolaSRecFile& file, std::uint32_t regionOneBase, std::uint32_t regionTwoBase,
                    std::uint32_t displacement);

// Every result of GetNextPacket until the stream is finished, the empty ones
// only when keepEmpty (bounded, so a stream that never finishes fails
// instead of hanging).
std::vector<Packet> DrainStream(IntelHexFile& file, bool keepEmpty = false);

// "3A0200..." as the CLI prints a packet; the first `n` bytes when given.
std::string ToHex(std::span<const std::uint8_t> bytes, std::size_t n = SIZE_MAX);
std::vector<std::uint8_t> Slice(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t n);
// Four bytes, least significant first.
std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t offset);

// Writes `text` into a fresh file in a new temp folder.
std::filesystem::path WriteTemp(const std::string& name, const std::string& text);


// Image bytes for property tests, with long blank (0xFF) runs so that
// records are left out and segments are crossed with data on both sides.
inline ::rc::Gen<std::vector<std::uint8_t>> ImageBytesWithBlanks(std::size_t maxSize) {
  return ::rc::gen::mapcat(::rc::gen::inRange<std::size_t>(1, maxSize + 1), [](std::size_t n) {
    return ::rc::gen::container<std::vector<std::uint8_t>>(
        n, ::rc::gen::weightedOneOf<std::uint8_t>({{1, ::rc::gen::just<std::uint8_t>(0xFF)},
                                                 {3, ::rc::gen::arbitrary<std::uint8_t>()}}));
  });
}

}  // namespace tarnvale::test
