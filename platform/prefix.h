// The prefix: one directory that stands in for the named places of Windows
// (drives, UNC shares, COM ports, the registry, named kernel objects).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// $ORDELLA_PREFIX, or ~/.ordella when unset. The directory is created on first use.
std::filesystem::path PrefixRoot();

// Maps a Windows path to its place under the prefix:
//   c:\a\B.ini      -> <prefix>/drive_c/a/B.ini
//   \\srv\share\x   -> <prefix>/unc/srv/share/x
//   COM3            -> <prefix>/dosdevices/com3 when that exists, else /dev/ttyS2
//   relative paths  -> below the prefix root
// Existing components are matched case-insensitively (PM2000V6.ini finds PM2000V6.INI);
// components that do not exist yet keep the given spelling. A path whose ".." would
// leave the prefix is refused (nullopt). Bytes are taken as they are (CP949 names stay bytes).
std::optional<std::filesystem::path> MapPath(std::string_view windows_path);

// <prefix>/run: where named mappings, events, mutexes and window endpoints live. Created.
std::filesystem::path RunDir();

// The directory of the running program (the install directory of our programs).
std::filesystem::path ProgramDir();

}  // namespace platform
