// The customer's signature on its way from the terminal back to the terminal's printer: kept as
// an image file, compressed into a second file with Ordella_Compress, and sent in front of each
// card-receipt copy as a signature image frame.
//
//   signature image frame:  STX "BMPP15" m (six digits) <m bytes of the compressed file> ETX
//
// Sign-pad path: the 042 frame carries the image in an "SM" block, found anywhere in the frame:
//   "SM" n (four digits) <n image bytes>
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hub::payments {

inline constexpr std::string_view kSignatureBlockTag = "SM";
inline constexpr size_t kSignatureBlockLengthDigits = 4;
inline constexpr std::string_view kSignatureFrameTag = "BMPP15";
inline constexpr size_t kSignatureFrameOverhead = 1 + kSignatureFrameTag.size() + 6 + 1;  // 14
inline constexpr size_t kMaxSignaturePayload = 999999;  // six digits

// The DLL name the compressor is loaded by.
inline constexpr std::string_view kHuffCompressDll = "Ordella_HuffCompress.dll";

// The two signature files, as Windows paths below the install directory.
struct SignatureFiles {
  std::string image;       // <install dir>\Bin\sign.bmp
  std::string compressed;  // <install dir>\Bin\sign.bmp.cre
};
SignatureFiles SignatureFilesIn(std::string_view install_dir);

// The image bytes of the frame's "SM" block; nullopt when there is none, its length is not four
// digits, or the frame holds fewer image bytes than the length says.
std::optional<std::string_view> SignatureImageIn(std::string_view frame);

// Sign-pad path: writes the "SM" block's image to the image file (created or truncated) and
// compresses it. Both files of the previous signature are removed first, so that a frame without
// a usable block can never leave an earlier customer's signature to be printed on this receipt.
// Returns 1; -1 when the frame has no usable block (logged) or the image file cannot be written.
int StoreSignature(std::string_view frame, const SignatureFiles& files);

// Compresses the image file into the compressed file with Ordella_Compress. Returns 1; 0 when a
// file cannot be opened or written or the compressor cannot be loaded (logged). On failure no
// compressed file is left behind.
int CompressSignature(const SignatureFiles& files);

// The signature image frame of compressed bytes; nullopt beyond six digits of payload.
std::optional<std::string> SignatureFrame(std::string_view compressed);

// The signature image frame of the compressed file; nullopt when there is no such file (the
// receipt is then printed without a signature) or it is too large for a frame.
std::optional<std::string> ReadSignatureFrame(const SignatureFiles& files);

}  // namespace hub::payments
