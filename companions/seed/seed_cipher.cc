#include "companions/seed/seed_cipher.h"

#include <gcrypt.h>

#include <memory>
#include <mutex>
#include <type_traits>

#include "companions/util/ordella_util.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace seed {
namespace {

struct CipherCloser {
  void operator()(gcry_cipher_hd_t handle) const { gcry_cipher_close(handle); }
};
using CipherHandle = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherCloser>;

// A SEED-CBC handle keyed and set to `iv`; null when libgcrypt refuses.
CipherHandle OpenCbc(const SeedKey& key, const uint8_t* iv) {
  if (!InitCipherLibrary()) return nullptr;
  gcry_cipher_hd_t raw = nullptr;
  if (gcry_cipher_open(&raw, GCRY_CIPHER_SEED, GCRY_CIPHER_MODE_CBC, 0) != 0) return nullptr;
  CipherHandle handle(raw);
  if (gcry_cipher_setkey(raw, key.data(), key.size()) != 0) return nullptr;
  if (gcry_cipher_setiv(raw, iv, kBlockSize) != 0) return nullptr;
  return handle;
}

unsigned char* Bytes(std::string* text) { return reinterpret_cast<unsigned char*>(text->data()); }

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// Index of the frame's ETX: its last byte, or the byte before a check byte. A check byte always
// has bit 0x20 set, so it is never taken for ETX. npos when the frame ends otherwise.
size_t EtxIndex(std::string_view frame) {
  if (!frame.empty() && static_cast<unsigned char>(frame.back()) == kEtx) return frame.size() - 1;
  if (frame.size() >= 2 && static_cast<unsigned char>(frame[frame.size() - 2]) == kEtx) {
    return frame.size() - 2;
  }
  return std::string_view::npos;
}

}  // namespace

bool InitCipherLibrary() {
  static bool ready = false;
  static std::once_flag once;
  std::call_once(once, [] {
    // Another part of the process may have set libgcrypt up already; then it is ours to use.
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0) {
      ready = true;
      return;
    }
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    ready = true;
  });
  return ready;
}

std::optional<SeedKey> ParseSeedKey(std::string_view hex) {
  if (hex.size() != 2 * SeedKey{}.size()) return std::nullopt;
  std::optional<std::string> bytes = platform::FromHex(hex);
  if (!bytes || bytes->size() != SeedKey{}.size()) return std::nullopt;
  SeedKey key{};
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>((*bytes)[i]);
  return key;
}

std::optional<SeedKey> ConfiguredSeedKey() {
  platform::RegValue value;
  const platform::RegStatus status =
      platform::RegGetValue(kSeedKeyRegistryKey, kSeedKeyValueName, &value);
  if (status == platform::RegStatus::kNotFound) return ParseSeedKey(kDefaultSeedKeyHex);
  if (status != platform::RegStatus::kOk || value.type != platform::RegType::kString) {
    return std::nullopt;
  }
  return ParseSeedKey(value.text);
}

std::optional<std::string> EncipherBody(std::string_view plain, const SeedKey& key) {
  if (!InitCipherLibrary()) return std::nullopt;
  SeedIv iv{};
  gcry_create_nonce(iv.data(), iv.size());
  return EncipherBody(plain, key, iv);
}

std::optional<std::string> EncipherBody(std::string_view plain, const SeedKey& key,
                                        const SeedIv& iv) {
  CipherHandle cipher = OpenCbc(key, iv.data());
  if (!cipher) return std::nullopt;
  const size_t padding = kBlockSize - plain.size() % kBlockSize;  // 1..16, PKCS#7
  std::string padded(plain);
  padded.append(padding, static_cast<char>(padding));
  std::string out(reinterpret_cast<const char*>(iv.data()), iv.size());
  out.resize(kBlockSize + padded.size());
  if (gcry_cipher_encrypt(cipher.get(), Bytes(&out) + kBlockSize, padded.size(),
                          Bytes(std::string_view(padded)), padded.size()) != 0) {
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> DecipherBody(std::string_view enciphered, const SeedKey& key) {
  if (enciphered.size() < 2 * kBlockSize || enciphered.size() % kBlockSize != 0) {
    return std::nullopt;
  }
  CipherHandle cipher = OpenCbc(key, Bytes(enciphered));
  if (!cipher) return std::nullopt;
  std::string plain(enciphered.size() - kBlockSize, '\0');
  if (gcry_cipher_decrypt(cipher.get(), Bytes(&plain), plain.size(), Bytes(enciphered) + kBlockSize,
                          plain.size()) != 0) {
    return std::nullopt;
  }
  const size_t padding = static_cast<unsigned char>(plain.back());
  if (padding == 0 || padding > kBlockSize) return std::nullopt;
  for (size_t i = plain.size() - padding; i < plain.size(); ++i) {
    if (static_cast<unsigned char>(plain[i]) != padding) return std::nullopt;
  }
  plain.resize(plain.size() - padding);
  return plain;
}

std::optional<std::string> EncipherFrame(std::string_view plain_frame, const SeedKey& key,
                                         CipherLengthField length_field) {
  const size_t etx = EtxIndex(plain_frame);
  if (etx == std::string_view::npos || etx < kBodyOffset ||
      static_cast<unsigned char>(plain_frame[0]) != kStx ||
      plain_frame[kCipherFlagOffset] != kPlainFlag ||
      plain_frame[kPackingFlagOffset] != kPlainFlag) {
    return std::nullopt;
  }
  std::optional<std::string> body =
      EncipherBody(plain_frame.substr(kBodyOffset, etx - kBodyOffset), key);
  if (!body) return std::nullopt;
  const size_t through_etx = kBodyOffset + body->size() + 1;
  const size_t length_value = length_field == CipherLengthField::kTerminal
                                  ? through_etx
                                  : through_etx + 1 - kPosClientLengthSlack;
  std::optional<std::string> length =
      length_value <= static_cast<size_t>(kMaxLengthField)
          ? platform::ZeroPadded(static_cast<long long>(length_value), kLengthDigits)
          : std::nullopt;
  if (!length) return std::nullopt;

  std::string frame(plain_frame.substr(0, kBodyOffset));
  frame[kCipherFlagOffset] = kCipheredFlag;
  frame.replace(kLengthOffset, kLengthDigits, *length);
  frame += *body;
  frame.push_back(static_cast<char>(kEtx));
  frame.push_back(static_cast<char>(
      UtilCheckByte(Bytes(std::string_view(frame)) + 1, static_cast<int>(frame.size() - 1))));
  return frame;
}

}  // namespace seed
