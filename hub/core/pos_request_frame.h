// Deciding when the bytes a POS client has sent so far make a whole request.
//
// A POS client sends either a gateway frame (the bytes contain "TRM", "PMC" or "CRE") or a
// signature image frame (they contain "BMP" or "CBMP"). A gateway frame is complete when its
// length field (bytes 3-6) is not greater than the bytes received, or, with cipher flag "S", not
// greater than the bytes received less 10. A signature image frame is complete when the bytes
// received reach its six-digit length (bytes 7-12) plus 13.
//
// Bytes that begin with STX and "BMP" or "CBMP" are a signature image frame whatever their
// payload holds: compressed bytes may contain "TRM", "PMC" or "CRE" by chance, and such a
// signature is not taken for a broken gateway frame.
//
// Bytes with neither marker are not a request and the connection is given up, except while they
// are still the opening of a frame (they begin with STX and are shorter than a frame head): a
// frame that arrives in small segments is not refused before its marker has come. A length
// field that is not all digits makes the bytes not a request.
#pragma once

#include <string_view>

namespace hub {

// A POS client's "S" frame is complete when its length field is at most the bytes received less
// this many.
inline constexpr size_t kPosCipheredLengthSlack = 10;

enum class PosRequestStatus {
  kNotARequest,     // give the connection up
  kNeedMore,        // a request has begun: keep receiving
  kGatewayFrame,    // a complete gateway frame
  kSignatureImage,  // a complete signature image frame
};

// True when the bytes carry a gateway frame's marker.
bool HasGatewayFrameMarker(std::string_view held);
// True when the bytes carry a signature image frame's marker (and no gateway frame marker).
bool HasSignatureImageMarker(std::string_view held);

// What the bytes received so far on a POS client connection are.
PosRequestStatus ExaminePosBytes(std::string_view held);

}  // namespace hub
