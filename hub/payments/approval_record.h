// The approval reply record: 832 bytes that either approval path fills (the sign-pad module's
// answer record, or the sign-pad objects' answer written into a zeroed record) and that the card
// receipt and the POS client's answer read. Texts are fixed-width, not zero-terminated; a field
// that the path left short ends at its first zero byte.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace hub::payments {

inline constexpr size_t kApprovalRecordSize = 832;
using ApprovalRecord = std::array<unsigned char, kApprovalRecordSize>;

struct RecordField {
  size_t offset;
  size_t width;
};

// "0000" approved; "9999" every local failure (and every decline on the sign-pad path).
inline constexpr RecordField kResponseCode{8, 4};
inline constexpr RecordField kVoucherNumber{15, 4};
// Year, month, day, hour, minute, second, two digits each, then one more character.
inline constexpr RecordField kTransactionDateTime{19, 13};
inline constexpr RecordField kApprovalNumber{44, 12};
inline constexpr RecordField kIssuerName{91, 14};
inline constexpr RecordField kMerchantNumber{105, 15};
inline constexpr RecordField kAcquirerName{120, 14};
inline constexpr RecordField kResponseMessage{135, 64};
inline constexpr RecordField kTransactionNumber{311, 12};
inline constexpr RecordField kCardNumber{336, 20};

static_assert(kCardNumber.offset + kCardNumber.width <= kApprovalRecordSize);

// The text of a field: its bytes up to the first zero byte, never beyond its width.
inline std::string_view RecordText(const ApprovalRecord& record, RecordField field) {
  const auto* begin = reinterpret_cast<const char*>(record.data() + field.offset);
  const std::string_view whole(begin, field.width);
  return whole.substr(0, std::min(whole.find('\0'), whole.size()));
}

// Writes a field: the text cut to the width, the rest of the field zero bytes.
inline void SetRecordText(ApprovalRecord& record, RecordField field, std::string_view text) {
  const size_t kept = std::min(text.size(), field.width);
  std::fill_n(record.begin() + static_cast<std::ptrdiff_t>(field.offset), field.width, 0);
  std::copy_n(text.begin(), kept, record.begin() + static_cast<std::ptrdiff_t>(field.offset));
}

}  // namespace hub::payments
