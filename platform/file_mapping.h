// Named file mappings (CreateFileMapping/OpenFileMapping/MapViewOfFile), realised as files
// under <prefix>/run/mappings mapped MAP_SHARED, so several processes see the same bytes.
//
// A mapping lives as long as some object in some process holds it, as a kernel object does:
// once the last holder is gone (closed, ended or crashed) the name counts as free, OpenExisting
// fails, and the next CreateOrOpen starts from zero-filled bytes with existed() false. The file
// itself stays on disk until then; it carries no meaning while nobody holds it.
// Names are taken as bytes and kept to one file name ("a/b", ".." and "Global\x" are safe).
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace platform {

class FileMapping {
 public:
  virtual ~FileMapping() = default;  // unmaps and releases the hold on the mapping
  virtual unsigned char* data() = 0;
  // The size of the view: the whole mapping for CreateOrOpen (which may be larger than asked
  // when another holder created it larger), the asked size for OpenExisting.
  virtual size_t size() const = 0;
  // True when the mapping was already held by someone (ERROR_ALREADY_EXISTS).
  virtual bool existed() const = 0;

  // Creates the named mapping of `size` bytes (zero-filled), or opens it when it exists; an
  // existing mapping smaller than `size` is grown (views of other holders stay valid).
  // nullptr on failure or for size 0.
  static std::unique_ptr<FileMapping> CreateOrOpen(std::string_view name, size_t size);
  // Opens an existing mapping with a view of `size` bytes (0: all of it); nullptr when nobody
  // holds a mapping of that name or it is smaller than `size` (MapViewOfFile would fail).
  static std::unique_ptr<FileMapping> OpenExisting(std::string_view name, size_t size = 0);
  // As OpenExisting, for a reader that must write nothing: the files are opened for reading,
  // nothing is created under the prefix, and the view is read-only (writing through data()
  // faults). It holds the mapping like any other holder while it lives.
  static std::unique_ptr<FileMapping> ReadExisting(std::string_view name, size_t size = 0);
};

}  // namespace platform
