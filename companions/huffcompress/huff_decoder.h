// The receiving side of Ordella_Compress: turns the payload of a signature image frame back into
// the image. The terminal simulator uses it to show what it received.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace huffcompress {

// The original bytes of a compressed text (huff_format.h). nullopt when it is not one: a wrong
// magic or method, a header cut short, counts that describe no prefix code (more codes of a
// length than there is room for), a symbol listed twice, too few code bits for the stated
// length, a bit sequence that is no code, or stored bytes whose count differs from the stated
// length.
std::optional<std::string> Decompress(std::string_view packed);

}  // namespace huffcompress
