#pragma once
// Shared helpers of the image format tests.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/formats/MotorolaSRecFile.h"

namespace tarnvale::test {

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

// Runs a shell command; returns its exit status and fills `output` with stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);
std::string Quote(const std::filesystem::path& p);

}  // namespace tarnvale::test
