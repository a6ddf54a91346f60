// The compressing side of the signature format (huff_format.h).
#pragma once

#include <string>
#include <string_view>

namespace huffcompress {

// The compressed form of `plain`: Huffman when that is shorter than the stored form, otherwise
// the stored form. Never longer than plain.size() + kStoredHeaderSize. `plain` must not be
// longer than kMaxInputLength.
std::string Compress(std::string_view plain);

}  // namespace huffcompress
