// Card numbers and track data in diagnostic records: no process's log may hold them whole.
//
// Masking rule (bytes keep their places; masked bytes become '*'):
//   1. A card number is a run of 13 to 19 ASCII digits with no digit directly before or after
//      it. Its first 6 and last 4 digits are kept, the digits between are masked. Runs of other
//      lengths (amounts, dates, approval numbers, barcodes) are left alone. A 14-digit time
//      stamp is masked too: card numbers come in every length from 13 to 19, and a masked
//      stamp costs less than a leaked card.
//   2. Track data: when a card number is directly followed by a track separator ('=' or 'D' of
//      track 2 and its hexadecimal rendering, '^' of track 1), the separator is kept and every
//      byte after it is masked up to the end of the track: the end sentinel '?', any control
//      byte (below 0x20: FS, GS, ETX, NUL ...) or the end of the data.
#pragma once

#include <string>
#include <string_view>

namespace protocol {

// `bytes` with card numbers and track data masked by the rule above.
std::string MaskCardData(std::string_view bytes);

}  // namespace protocol
