// Named file mappings (CreateFileMapping/OpenFileMapping/MapViewOfFile), realised as files
// under <prefix>/run/mappings mapped MAP_SHARED, so several processes see the same bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace platform {

class FileMapping {
 public:
  virtual ~FileMapping() = default;
  virtual unsigned char* data() = 0;
  virtual size_t size() const = 0;
  // True when CreateOrOpen found the mapping already there (ERROR_ALREADY_EXISTS).
  virtual bool existed() const = 0;

  // Creates the named mapping of `size` bytes (zero-filled), or opens it when it exists.
  // nullptr on failure.
  static std::unique_ptr<FileMapping> CreateOrOpen(std::string_view name, size_t size);
  // Opens an existing mapping; nullptr when nobody created it.
  static std::unique_ptr<FileMapping> OpenExisting(std::string_view name);
};

}  // namespace platform
