#include "platform/file_mapping.h"

#include <utility>

#include "platform/named_object.h"

namespace platform {
namespace {

using internal::SharedFile;

constexpr std::string_view kMappingKind = "mappings";

class PosixFileMapping final : public FileMapping {
 public:
  explicit PosixFileMapping(std::unique_ptr<SharedFile> file) : file_(std::move(file)) {}
  unsigned char* data() override { return file_->data(); }
  size_t size() const override { return file_->size(); }
  bool existed() const override { return file_->existed(); }

 private:
  std::unique_ptr<SharedFile> file_;
};

std::unique_ptr<FileMapping> Wrap(std::unique_ptr<SharedFile> file) {
  if (!file) return nullptr;
  return std::make_unique<PosixFileMapping>(std::move(file));
}

}  // namespace

std::unique_ptr<FileMapping> FileMapping::CreateOrOpen(std::string_view name, size_t size) {
  return Wrap(SharedFile::Open(kMappingKind, name, size, SharedFile::Mode::kCreateOrOpen));
}

std::unique_ptr<FileMapping> FileMapping::OpenExisting(std::string_view name, size_t size) {
  return Wrap(SharedFile::Open(kMappingKind, name, size, SharedFile::Mode::kOpenExisting));
}

std::unique_ptr<FileMapping> FileMapping::ReadExisting(std::string_view name, size_t size) {
  return Wrap(SharedFile::Open(kMappingKind, name, size, SharedFile::Mode::kReadExisting));
}

}  // namespace platform
