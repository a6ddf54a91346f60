// What the module approval path reads from the terminal and hands to the sign-pad module
// library: the terminal's "GP" signature block and the library's fixed-width request record
// (its layout is shared with the library and the VAN server: companions/kiccpad/kicc_protocol.h).
//
// "GP" signature block, found anywhere in the terminal's 042 frame (bytes from "G"):
//
//   0 "GP" | 2 seed (32) | 34 unused (20) | 54 length n (two bytes of packed decimal digits:
//   0x01 0x20 is 120) | 56 n bytes of signature data
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "hub/core/relay_slot.h"

namespace hub::payments {

inline constexpr std::string_view kModuleSignatureTag = "GP";
inline constexpr size_t kModuleSeedOffset = 2;
inline constexpr size_t kModuleSeedSize = 32;
inline constexpr size_t kModuleSignatureLengthOffset = 54;
inline constexpr size_t kModuleSignatureDataOffset = kModuleSignatureLengthOffset + 2;

struct ModuleSignature {
  std::string_view seed;  // the 32 seed bytes
  std::string_view data;  // the n bytes of signature data
};

// The frame's "GP" block; nullopt when there is none, or when the frame ends before the block's
// header or its n data bytes do (the block is never read beyond the frame).
std::optional<ModuleSignature> ModuleSignatureIn(std::string_view frame);

// The length n of the block's two length bytes: written as four upper-case hexadecimal digits
// and read as a decimal number up to the first digit above 9 (0x01 0x20 is 120, 0x0A 0x00 is 0).
size_t ModuleSignatureLength(unsigned char high, unsigned char low);

// The answer code of a card request: 51 "052", 61 "062", 71 "072", 63 "064"; nullopt for any
// other request code (no card request is pending).
std::optional<std::string_view> ModuleAnswerCode(int request_code);

// The request record of a card request (kicc::kRequestRecordSize bytes) from the payment fields:
// kind "D1" (51, 61) or "D4" (71, 63), the terminal identifier, card data, installment months,
// the total (amount 1 + 2 + 3, "%-9d"), original approval number and date (from its third
// character when it has more than six), amount 3 and the amount block
//   CR CR <program code, "%03s"> 7 spaces <amount 1, "%010s"><amount 2, "%010s">  (61, 63)
//   CR CR <program code, "%03s"> 7 spaces <20 zeros>                              (51, 71)
// Every field is left-aligned in its width and cut to it. nullopt for another request code, and
// for a total that does not fit its nine characters (a cut total would charge another amount).
std::optional<std::string> BuildModuleRequest(int request_code, const PaymentFields& payment);

}  // namespace hub::payments
