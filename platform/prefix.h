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
// The same path without creating it, for reads that find nothing when it is missing.
std::filesystem::path PrefixRootPath();

// Maps a Windows path to its place under the prefix:
//   c:\a\B.ini      -> <prefix>/drive_c/a/B.ini
//   \\srv\share\x   -> <prefix>/unc/srv/share/x
//   COM3            -> <prefix>/dosdevices/com3 when that exists, else /dev/ttyS2
//   \x\y            -> <prefix>/drive_c/x/y (the current drive is C)
//   relative paths  -> below the prefix root
//   "\\?\" and "\\.\" prefixes are dropped ("\\.\COM3" is COM3)
// Existing components are matched case-insensitively (PM2000V6.ini finds PM2000V6.INI);
// components that do not exist yet keep the given spelling. A path whose ".." would climb
// above its drive, its share or the prefix root is refused (nullopt). Bytes are taken as they are (CP949 names stay bytes).
std::optional<std::filesystem::path> MapPath(std::string_view windows_path);

// For calls that take either kind of path: one that starts with a single '/' and holds no
// backslash is a POSIX path, taken as it is; anything else is a Windows path for MapPath.
std::optional<std::filesystem::path> ResolvePath(std::string_view path);

// <prefix>/run: where named mappings, events, mutexes and window endpoints live. Created.
std::filesystem::path RunDir();
// The same folder for a reader: not created (it may not exist).
std::filesystem::path RunDirPath();

// The directory of the running program (the install directory of our programs).
std::filesystem::path ProgramDir();

// Windows name comparison: ASCII letters compare without case; the second byte of a two-byte
// CP949 character is compared exactly (it may look like an ASCII letter).
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

// The entry of directory `dir` named `name` in any case: the exact spelling when it exists,
// else the first case-insensitive match; nullopt when there is none.
std::optional<std::filesystem::path> FindEntryIgnoringCase(const std::filesystem::path& dir,
                                                           std::string_view name);

}  // namespace platform
