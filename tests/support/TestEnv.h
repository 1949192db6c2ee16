#pragma once
#include <filesystem>
#include <string>

namespace tarnvale::test {

// How long an in-process test lets a simulated box confirm a target
// selection: a real box has 100 ms, but a busy machine may not run the
// simulator's thread that soon.
inline constexpr unsigned kSimulatorSelectWaitMs = 5000;

// Creates a private temporary root and points TARNVALE_CONFIG_DIR,
// XDG_CONFIG_HOME, HOME, TMPDIR and the working directory into it.
void IsolateEnvironment();
void RemoveIsolatedEnvironment();

// A fresh, empty folder below the isolated root.
std::filesystem::path MakeTempDir(const std::string& hint = "t");

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace tarnvale::test
