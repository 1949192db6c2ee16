#pragma once
// Shared helpers of the image format tests.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/IntelHexFile.h"

namespace tarnvale::test {

// Every result of GetNextPacket until the stream is finished, empty ones
// included (bounded, so a stream that never finishes fails instead of hanging).
std::vector<Packet> DrainStream(IntelHexFile& file, std::size_t limit = 5'000'000);
std::vector<Packet> NonEmpty(const std::vector<Packet>& packets);

// "3A0200..." as the CLI prints a packet.
std::string ToHex(const Packet& packet);
Packet FromHex(const std::string& hex);

// Writes `text` into a fresh file in a new temp folder.
std::filesystem::path WriteTemp(const std::string& name, const std::string& text);

// Runs a shell command; returns its exit status and fills `output` with stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);
// The full path of a program on PATH, or empty.
std::string FindOnPath(const std::string& program);
std::string Quote(const std::filesystem::path& p);

}  // namespace tarnvale::test
