#pragma once
#include <memory>
#include <string>

#include "core/platform/Stream.h"

namespace tarnvale::platform {

inline constexpr std::uint16_t kDefaultTcpPort = 4000;
inline constexpr std::uint32_t kConnectTimeoutMs = 3000;

// Parses "A.B.C.D" or "A.B.C.D:PORT" (port 1-65535, default 4000).
bool ParseIpv4Endpoint(const std::string& text, std::string& host, std::uint16_t& port);

// Connects with a time-out; no Nagle delay; sends never raise SIGPIPE.
// Null on failure, with the reason in `error`.
std::unique_ptr<Stream> ConnectTcp(const std::string& host, std::uint16_t port, std::string& error,
                                   std::uint32_t timeoutMs = kConnectTimeoutMs);

}  // namespace tarnvale::platform
