// Small helpers every component's tests share: reading a file whole, waiting for something to
// happen with patience (never a bare sleep), and a connected pair of sockets.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace platform::testing {

// How long a test waits for what another thread or process is to do before calling it a failure.
inline constexpr std::chrono::milliseconds kPatience{10000};

// The whole content of `file`; empty when it is missing or cannot be read.
std::string ReadFile(const std::filesystem::path& file);

// Asks `condition` until it holds or `patience` passes, with short naps between; true when it
// held. A test asserts on the result, so a fault shows as a failure, not as a hang.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds patience = kPatience);

// Two connected ends of a local stream socket, for tests that stand in for a client.
std::pair<UniqueFd, UniqueFd> SocketPair();

}  // namespace platform::testing
