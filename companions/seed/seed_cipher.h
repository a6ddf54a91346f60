// SEED (RFC 4269) for gateway frame bodies, through libgcrypt.
//
// An enciphered frame ("S" in its cipher flag) keeps the plain frame's head (STX, cipher flag,
// packing flag, four-digit length, frame type: bytes 0-9); its body, from byte 10 (the message
// code) up to the byte before ETX, is
//
//     IV (16 bytes) || SEED-CBC(key, IV, plain body padded with PKCS#7)
//
// so it is always a whole number of 16-byte blocks, at least two. The IV is fresh for every
// frame, so equal bodies never give equal ciphertexts. ETX and the check byte follow as usual.
//
// The key is 16 bytes. The pharmacy configures it as the registry value "SeedKey" under
// HKEY_CURRENT_USER\Software\Tavenor: 32 hexadecimal characters (either case). When the value is
// absent the built-in key kDefaultSeedKeyHex is used; a value that is present but not 32
// hexadecimal characters is an error (no key), never silently replaced by the default.
//
// This library holds both directions: the hub only deciphers (through Ordella_Crypt of
// libOrdella_Seed.so); the simulators of the terminal and of POS clients encipher.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace seed {

inline constexpr size_t kBlockSize = 16;
using SeedKey = std::array<uint8_t, 16>;
using SeedIv = std::array<uint8_t, kBlockSize>;

// Where the key is configured.
inline constexpr char kSeedKeyRegistryKey[] = "Software\\Tavenor";
inline constexpr char kSeedKeyValueName[] = "SeedKey";
// The key used when "SeedKey" is not set: the bytes of the text "TavenorGateway01".
inline constexpr char kDefaultSeedKeyHex[] = "546176656E6F72476174657761793031";

// Frame layout the cipher relies on (offsets from STX; the routing prefix is never present in
// an enciphered frame).
inline constexpr size_t kCipherFlagOffset = 1;
inline constexpr size_t kPackingFlagOffset = 2;
inline constexpr size_t kLengthOffset = 3;
inline constexpr size_t kLengthDigits = 4;
inline constexpr size_t kBodyOffset = 10;
inline constexpr unsigned char kStx = 0x02;
inline constexpr unsigned char kEtx = 0x03;
inline constexpr char kCipheredFlag = 'S';
inline constexpr char kPlainFlag = 'X';
inline constexpr int kMaxLengthField = 9999;
// A POS client's "S" frame is complete when its length field is at most the bytes received
// less this many.
inline constexpr size_t kPosClientLengthSlack = 10;

// Makes libgcrypt ready (version check, no secure memory, initialisation finished) once per
// process; later calls return the first result. False when the installed libgcrypt is older
// than the one we were built against.
bool InitCipherLibrary();

// The 16 bytes of a 32-character hexadecimal key text; nullopt for anything else.
std::optional<SeedKey> ParseSeedKey(std::string_view hex);

// The configured key (see above); nullopt when "SeedKey" is present but malformed or the
// registry cannot be read.
std::optional<SeedKey> ConfiguredSeedKey();

// IV || SEED-CBC(PKCS#7(plain)). The first form draws a fresh IV; the second takes it (tests).
// nullopt only when the cipher library cannot be used.
std::optional<std::string> EncipherBody(std::string_view plain, const SeedKey& key);
std::optional<std::string> EncipherBody(std::string_view plain, const SeedKey& key,
                                        const SeedIv& iv);

// The plain body of an enciphered one; nullopt when it is not a whole number of blocks (at
// least IV + one block), the padding is wrong (wrong key or damaged data) or the cipher library
// cannot be used.
std::optional<std::string> DecipherBody(std::string_view enciphered, const SeedKey& key);

// What the length field of an enciphered frame counts. The two receivers complete frames
// differently, so a sender writes the form its receiver expects:
enum class CipherLengthField {
  // The terminal link: the enciphered frame from STX through ETX, as for any frame, so the
  // terminal-side receiver completes it when the check byte has arrived.
  kTerminal,
  // A POS client connection: the receiver takes an "S" frame as complete when the length
  // field is not greater than the bytes received less 10, so it is the whole frame (check
  // byte included) less 10.
  kPosClient,
};

// Enciphers a plain frame (STX, "X", "X", length, type, body, ETX, with or without its check
// byte) into an "S" frame: same packing flag and type, body enciphered, length field as asked,
// ETX and a fresh check byte. nullopt when the input is not such a frame or the result would
// not fit the four-digit length field.
std::optional<std::string> EncipherFrame(std::string_view plain_frame, const SeedKey& key,
                                         CipherLengthField length_field);

}  // namespace seed
