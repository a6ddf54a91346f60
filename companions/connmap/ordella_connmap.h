// Ordella_ConnMap: the hub's settings, kept in one record in memory (the connection property
// map) and read by byte offset from every thread of the hub. The record is loaded from the
// settings file "ordella_connmap.ini" in the install directory (SETTINGS.md lists its keys)
// and written back by SavePropertyMap.
//
// Readers and the sign-on writer use the record without a lock: it is plain bytes, and a
// text being rewritten may be seen half old, half new.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"

#if defined(ORDELLA_CONNMAP_BUILD)
#define ORDELLA_CONNMAP_API __attribute__((visibility("default")))
#else
#define ORDELLA_CONNMAP_API
#endif

extern "C" {

// Loads the record: the install directory from the registry, then the settings file (its
// defaults when the file is missing). Returns 1 when the record is ready; 0 when the settings
// cannot be read or hold an error, which is written to stderr and to the diagnostic log.
// A record already open stays as it is.
ORDELLA_CONNMAP_API int CreatePropertyMap();

// The record of kPropertyMapSize bytes, valid until ClosePropertyMap; nullptr when none is open.
ORDELLA_CONNMAP_API char* GetPropertyMap();

// Writes every field of the record back to the settings file, replacing it atomically.
// Returns 1 when saved, 0 otherwise (the file is then unchanged).
ORDELLA_CONNMAP_API int SavePropertyMap();

// Releases the record. Returns 1.
ORDELLA_CONNMAP_API int ClosePropertyMap();

}  // extern "C"

namespace connmap {

inline constexpr int kPropertyMapSize = 4096;

// Byte offsets of the record.
inline constexpr int kOffsetInstallDir = 0;  // also the log directory of UtilWriteLog
inline constexpr int kOffsetServerAddress = 2108;
inline constexpr int kOffsetServerPort = 2128;
inline constexpr int kOffsetRelayPeerAddress = 2138;  // "0.0.0.0": no remote relay peer
inline constexpr int kOffsetRelayPeerPort = 2158;
inline constexpr int kOffsetPosListenerPort = 2178;        // "0000": off
inline constexpr int kOffsetFirstAckListenerPort = 2188;   // "0000": off
inline constexpr int kOffsetSecondAckListenerPort = 2198;  // "0000": off
inline constexpr int kOffsetTcpTerminalPort = 2208;
inline constexpr int kOffsetTradeName = 2220;
inline constexpr int kOffsetTelephone = 2344;
inline constexpr int kOffsetAreaCode = 2364;
inline constexpr int kOffsetBusinessNumber = 2369;
inline constexpr int kOffsetPharmacyCode = 2389;
inline constexpr int kOffsetProgramIndex = 2396;  // 0-16; 1 is PM2000
inline constexpr int kOffsetBusinessAddress = 2405;
inline constexpr int kOffsetOwnerName = 2605;
inline constexpr int kOffsetTerminalCount = 2640;  // 0-3
inline constexpr int kOffsetPaymentPath = 2652;    // 0, 1: sign-pad module; 2: sign-pad objects
inline constexpr int kOffsetTerminalSlots = 2664;
inline constexpr int kTerminalSlotSize = 136;
inline constexpr int kMaxTerminals = 3;
inline constexpr int kOffsetSecondReceiptCopy = 3072;  // 1: print the second card receipt copy
inline constexpr int kOffsetLogFlag = 3080;            // the flag of every UtilWriteLog call
inline constexpr int kOffsetConvertPrintText = 3104;   // 1: convert print texts before printing

// Offsets inside terminal slot i, which starts at kOffsetTerminalSlots + kTerminalSlotSize * i.
inline constexpr int kSlotTerminalId = 4;
inline constexpr int kSlotSignOnField21 = 24;
inline constexpr int kSlotSignOnField19 = 44;
inline constexpr int kSlotSerialPort = 72;  // 0 in slot 0: the TCP terminal
inline constexpr int kSlotSignOnField11 = 92;
inline constexpr int kSlotSignOnField10 = 112;

// A text field: its offset and its room, the bytes up to the next listed field (the text and
// its terminating zero).
struct TextField {
  int offset;
  int room;
};
// A 32-bit signed integer field.
struct IntField {
  int offset;
};

inline constexpr TextField kInstallDir{kOffsetInstallDir, kOffsetServerAddress};
inline constexpr TextField kServerAddress{kOffsetServerAddress, 20};
inline constexpr TextField kServerPort{kOffsetServerPort, 10};
inline constexpr TextField kRelayPeerAddress{kOffsetRelayPeerAddress, 20};
inline constexpr TextField kRelayPeerPort{kOffsetRelayPeerPort, 20};
inline constexpr TextField kPosListenerPort{kOffsetPosListenerPort, 10};
inline constexpr TextField kFirstAckListenerPort{kOffsetFirstAckListenerPort, 10};
inline constexpr TextField kSecondAckListenerPort{kOffsetSecondAckListenerPort, 10};
inline constexpr TextField kTcpTerminalPort{kOffsetTcpTerminalPort, 12};
inline constexpr TextField kTradeName{kOffsetTradeName, 124};
inline constexpr TextField kTelephone{kOffsetTelephone, 20};
inline constexpr TextField kAreaCode{kOffsetAreaCode, 5};
inline constexpr TextField kBusinessNumber{kOffsetBusinessNumber, 20};
inline constexpr TextField kPharmacyCode{kOffsetPharmacyCode, 7};
inline constexpr IntField kProgramIndex{kOffsetProgramIndex};
inline constexpr TextField kBusinessAddress{kOffsetBusinessAddress, 200};
inline constexpr TextField kOwnerName{kOffsetOwnerName, 35};
inline constexpr IntField kTerminalCount{kOffsetTerminalCount};
inline constexpr IntField kPaymentPath{kOffsetPaymentPath};
inline constexpr IntField kSecondReceiptCopy{kOffsetSecondReceiptCopy};
inline constexpr IntField kLogFlag{kOffsetLogFlag};
inline constexpr IntField kConvertPrintText{kOffsetConvertPrintText};

// The fields of a terminal slot, relative to the slot's start; InSlot places them in slot i.
inline constexpr TextField kTerminalId{kSlotTerminalId, 20};
inline constexpr TextField kSignOnField21{kSlotSignOnField21, 20};
inline constexpr TextField kSignOnField19{kSlotSignOnField19, 28};
inline constexpr IntField kSerialPort{kSlotSerialPort};
inline constexpr TextField kSignOnField11{kSlotSignOnField11, 20};
inline constexpr TextField kSignOnField10{kSlotSignOnField10, 20};

// The start of terminal slot `terminal` (0 to kMaxTerminals - 1).
constexpr int TerminalSlot(int terminal) {
  return kOffsetTerminalSlots + kTerminalSlotSize * terminal;
}
constexpr TextField InSlot(int terminal, TextField field) {
  return {TerminalSlot(terminal) + field.offset, field.room};
}
constexpr IntField InSlot(int terminal, IntField field) {
  return {TerminalSlot(terminal) + field.offset};
}

constexpr bool InRecord(int offset, int size) {
  return offset >= 0 && size > 0 && offset + size <= kPropertyMapSize;
}

// The text of a field: up to its terminating zero, never beyond its room.
inline std::string ReadText(const char* record, TextField field) {
  if (record == nullptr || !InRecord(field.offset, field.room)) return {};
  const char* text = record + field.offset;
  return std::string(text, strnlen(text, static_cast<size_t>(field.room)));
}

// Writes a text into its field, NUL-terminated and cut to the room without splitting a
// two-byte character. Returns false when it had to be cut (or the field is not in the record).
inline bool WriteText(char* record, TextField field, std::string_view text) {
  if (record == nullptr || !InRecord(field.offset, field.room)) return false;
  return platform::CopyBounded(record + field.offset, static_cast<size_t>(field.room), text);
}

inline int32_t ReadInt(const char* record, IntField field) {
  int32_t value = 0;
  if (record != nullptr && InRecord(field.offset, static_cast<int>(sizeof value))) {
    std::memcpy(&value, record + field.offset, sizeof value);
  }
  return value;
}

inline void WriteInt(char* record, IntField field, int32_t value) {
  if (record != nullptr && InRecord(field.offset, static_cast<int>(sizeof value))) {
    std::memcpy(record + field.offset, &value, sizeof value);
  }
}

}  // namespace connmap
