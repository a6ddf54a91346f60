// Small facts about the machine and the running programs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// GetTickCount: milliseconds since an arbitrary start (CLOCK_MONOTONIC), wrapping at 2^32.
uint32_t GetTickCount();

// GetComputerName: the host name, cut at the first '.'.
std::string ComputerName();

// The first network adapter's hardware address: the first non-loopback interface that has a
// six-byte address. nullopt when there is none.
std::optional<std::array<uint8_t, 6>> FirstAdapterAddress();

// The file version stamped into one of our programs or libraries at build time
// ("1.0.0.1"); nullopt when the file carries none. Accepts a Windows or a POSIX path.
std::optional<std::string> FileVersion(std::string_view path);

// Sleep, in milliseconds.
void SleepMs(uint32_t ms);

}  // namespace platform
