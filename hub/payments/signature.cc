#include "hub/payments/signature.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include "companions/huffcompress/ordella_huffcompress.h"
#include "protocol/frame.h"
#include "hub/core/module_state.h"
#include "platform/prefix.h"
#include "platform/process.h"
#include "platform/text.h"

namespace hub::payments {

using namespace protocol;
namespace {

constexpr const char* kLogTag = "SignImage";
constexpr std::string_view kImageName = "Bin\\sign.bmp";
constexpr std::string_view kCompressedSuffix = ".cre";

static_assert(kSignatureFrameOverhead == kSignatureHeadSize + 1);  // the head, then ETX

std::optional<std::string> ReadWhole(const std::string& windows_path) {
  const std::optional<std::filesystem::path> path = platform::ResolvePath(windows_path);
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWhole(const std::string& windows_path, std::string_view bytes) {
  const std::optional<std::filesystem::path> path = platform::ResolvePath(windows_path);
  if (!path) return false;
  std::error_code ignored;
  std::filesystem::create_directories(path->parent_path(), ignored);
  std::ofstream out(*path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

void Remove(const std::string& windows_path) {
  const std::optional<std::filesystem::path> path = platform::ResolvePath(windows_path);
  std::error_code ignored;
  if (path) std::filesystem::remove(*path, ignored);
}

}  // namespace

SignatureFiles SignatureFilesIn(std::string_view install_dir) {
  std::string image(install_dir);
  if (image.empty() || image.back() != '\\') image.push_back('\\');
  image.append(kImageName);
  return {image, image + std::string(kCompressedSuffix)};
}

std::optional<std::string_view> SignatureImageIn(std::string_view frame) {
  const size_t tag = frame.find(kSignatureBlockTag);
  if (tag == std::string_view::npos) return std::nullopt;
  const size_t length_at = tag + kSignatureBlockTag.size();
  const std::optional<int> length = ReadDecimal(frame, length_at, kSignatureBlockLengthDigits);
  if (!length) return std::nullopt;
  const size_t image_at = length_at + kSignatureBlockLengthDigits;
  if (frame.size() - image_at < static_cast<size_t>(*length)) return std::nullopt;
  return frame.substr(image_at, static_cast<size_t>(*length));
}

int StoreSignature(std::string_view frame, const SignatureFiles& files) {
  Remove(files.compressed);
  Remove(files.image);
  const std::optional<std::string_view> image = SignatureImageIn(frame);
  if (!image) {
    WriteModuleLog(kLogTag, "no signature block, or a block longer than its frame: not stored");
    return -1;
  }
  if (!WriteWhole(files.image, *image)) {
    WriteModuleLog(kLogTag, "signature image file cannot be written: " + files.image);
    Remove(files.image);
    return -1;
  }
  CompressSignature(files);  // a missing compressed file only leaves the signature off the paper
  return 1;
}

int CompressSignature(const SignatureFiles& files) {
  auto fail = [&](const std::string& why) {
    WriteModuleLog(kLogTag, why);
    Remove(files.compressed);
    return 0;
  };
  const std::optional<std::string> image = ReadWhole(files.image);
  if (!image) return fail("signature image file cannot be read: " + files.image);
  platform::Status error;
  const std::unique_ptr<platform::Library> library =
      platform::Library::Load(kHuffCompressDll, &error);
  const auto compress =
      library ? reinterpret_cast<decltype(&Ordella_Compress)>(library->Symbol("Ordella_Compress"))
              : nullptr;
  if (compress == nullptr) return fail("Ordella_Compress not available: " + error.message());

  std::vector<unsigned char> output(ORDELLA_COMPRESS_BOUND(image->size()));
  const int written = compress(reinterpret_cast<const unsigned char*>(image->data()),
                               static_cast<int>(image->size()), output.data());
  if (written <= 0 || static_cast<size_t>(written) > output.size()) {
    return fail("signature image not compressed");
  }
  const std::string_view packed(reinterpret_cast<const char*>(output.data()),
                                static_cast<size_t>(written));
  if (!WriteWhole(files.compressed, packed)) {
    return fail("compressed signature file cannot be written: " + files.compressed);
  }
  return 1;
}

std::optional<std::string> SignatureFrame(std::string_view compressed) {
  if (compressed.size() > kMaxSignaturePayload) return std::nullopt;
  std::string frame(1, kStx);
  frame.append(kSignatureFrameTag);
  frame.append(
      platform::ZeroPadded(static_cast<long long>(compressed.size()), kSignatureLengthDigits)
          .value());
  frame.append(compressed);
  frame.push_back(kEtx);
  return frame;
}

std::optional<std::string> ReadSignatureFrame(const SignatureFiles& files) {
  const std::optional<std::string> compressed = ReadWhole(files.compressed);
  if (!compressed) return std::nullopt;
  std::optional<std::string> frame = SignatureFrame(*compressed);
  if (!frame) WriteModuleLog(kLogTag, "compressed signature too large for a frame: not printed");
  return frame;
}

}  // namespace hub::payments
