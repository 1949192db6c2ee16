#pragma once
// Production files live on the company's file server. The settings keep the
// server form ("\\QUORPROD\quor_data\Production\TN835\..."); on this system
// such a share is mounted below a share root, so "\\SERVER\rest" is opened
// as "<share root>/SERVER/rest" with backslashes turned into slashes.

#include <string>

namespace tarnvale {

inline constexpr const char* kShareRootVariable = "TARNVALE_SHARE_ROOT";
inline constexpr const char* kDefaultShareRoot = "/mnt";

// TARNVALE_SHARE_ROOT when set and not empty, else /mnt.
std::string ShareRoot();

// The path to open for a stored path. A path beginning with two backslashes
// (or two slashes) names a share; every other path only has its backslashes
// turned into slashes.
std::string OpenablePath(const std::string& stored, const std::string& shareRoot);
inline std::string OpenablePath(const std::string& stored) {
  return OpenablePath(stored, ShareRoot());
}

// Why a stored path may not be opened, or empty when it may. A share path
// with a ".." part would climb out of the share root to any file of this
// system, so it is refused rather than mapped.
std::string SharePathProblem(const std::string& stored);

}  // namespace tarnvale
