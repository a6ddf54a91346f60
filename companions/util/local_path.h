// Where a directory that the system names (a Windows path such as "c:\tavenor", or an
// absolute POSIX path) and a file below it live on this machine.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/prefix.h"

namespace companions {

// The local path of `directory` followed by `components`. A POSIX absolute path is taken as
// it is; anything else is a Windows path, mapped through the prefix (so an existing file or
// folder is found case-insensitively). nullopt when the path would leave the prefix.
inline std::optional<std::filesystem::path> LocalPath(
    std::string_view directory, std::initializer_list<std::string_view> components) {
  while (directory.size() > 1 && (directory.back() == '\\' || directory.back() == '/')) {
    directory.remove_suffix(1);
  }
  if (directory.starts_with('/')) {
    std::filesystem::path path(directory);
    for (std::string_view component : components) path /= component;
    return path;
  }
  std::string windows_path(directory);
  for (std::string_view component : components) {
    windows_path += '\\';
    windows_path += component;
  }
  return platform::MapPath(windows_path);
}

}  // namespace companions
