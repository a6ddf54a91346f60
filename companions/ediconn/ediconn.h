// EDICONN: the card-network library (libEDICONN.so, loaded as "EDICONN.DLL"). It carries two
// kinds of exchange, each a blocking call followed by a call that hands out the answer:
//
//   cash receipts (the hub)       EdiCashReceipt sends a cash-receipt request to the
//                                 cash-receipt server, EdiCashAnswer gives its answer;
//   card-network requests of the  EdiReadCard has the card read at terminal 0 through the hub's
//   POS side (Helvar)             POS port and EdiCardTrack gives its track data; EdiPosRequest
//                                 sends a card or cash request to the hub's POS port and
//                                 EdiPosAnswer gives the fields of the hub's answer.
//
// Exported by name (Linux has no ordinals); the Windows build's ordinal numbers are kept in
// kEdiconnOrdinals so that callers written against them can be checked. Texts are CP949,
// zero-terminated. The protocols, settings and results are in README.md beside this file; the
// cash-receipt server's wire layout in cash_protocol.h.
//
// Each calling thread has a session of its own: an answer call hands out what the last
// exchange call of the same thread received, and every exchange call first forgets the last
// answer, so a failed exchange never leaves an older answer to be taken for its own.
#pragma once

#define EDICONN_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// The rooms of the buffers the answer calls fill, terminating zero included; a longer text is
// cut to the room, never inside a two-byte character.
enum {
  kEdiCodeRoom = 10,       // EdiCashAnswer: answer code
  kEdiMessageRoom = 64,    // EdiCashAnswer: answer message
  kEdiApprovalRoom = 30,   // EdiCashAnswer: approval number
  kEdiTrackRoom = 200,     // EdiCardTrack: the card's track data
  kEdiFieldRoom = 100,     // EdiPosAnswer: each answer field
  kEdiPosRequestTexts = 25,
  kEdiPosAnswerFields = 30,
};

// Results of the exchange calls.
enum {
  kEdiOk = 1,           // the exchange took place; the answer call hands out its answer
  kEdiBadArgument = 0,  // a null text, a port that is not 1-65535, a code that is not 0-999,
                        // a text too long for the protocol
  kEdiUnreachable = -1, // no connection within the connect time limit
  kEdiNoAnswer = -2,    // the peer closed, failed or did not answer within the time limit
  kEdiBadAnswer = -3,   // what came back was not an answer of the exchange
};

// Ordinal 16. One cash-receipt request to the server at `address`:`port`; the thirteen texts
// after them are sent as they are (cash_protocol.h, CashRequestText order).
EDICONN_API int EdiCashReceipt(const char* address, const char* port, const char* message_type,
                               const char* business_number, const char* terminal,
                               const char* identification, const char* total, const char* tax,
                               const char* reserved, const char* amount1, const char* amount2,
                               const char* usage_code, const char* original_approval,
                               const char* original_date, const char* program_code);

// Ordinal 20. The server's answer of this thread's last EdiCashReceipt: answer code (room
// kEdiCodeRoom), message (kEdiMessageRoom) and approval number (kEdiApprovalRoom). 1; 0 with
// the three buffers emptied when there is no answer (no exchange, or it failed). A null buffer
// is skipped.
EDICONN_API int EdiCashAnswer(char* code, char* message, char* approval_number);

// Ordinal 4. Asks the hub's POS port at `host`:`port` for request `code` ("011": read the card
// at terminal 0) with `kind` and `prompt` as its fields 1 and 2, and waits until the hub ends the
// connection. 1 when the hub passed on the terminal's 012 frame with card data in its field 3;
// kEdiBadAnswer when it answered otherwise (a refusal: field 2 "9999"); kEdiNoAnswer when it
// closed without an answer (the terminal refused or ended the request).
EDICONN_API int EdiReadCard(const char* host, const char* port, const char* code,
                            const char* kind, const char* prompt);

// Ordinal 5. The track data of this thread's last EdiReadCard, into `track` (room
// kEdiTrackRoom). 1; 0 with `track` emptied when no card was read.
EDICONN_API int EdiCardTrack(char* track);

// Ordinal 1. One request to the hub's POS port: t1 the host, t2 the port, t3 the request code
// (three digits, "063" a card cancellation, "183" a cash-receipt cancellation), t4 to t25 the
// request's fields 1 to 22. Waits until the hub ends the connection; 1 when it answered with a
// frame (an approval, a decline or a refusal: the answer's fields tell which).
EDICONN_API int EdiPosRequest(const char* t1, const char* t2, const char* t3, const char* t4,
                              const char* t5, const char* t6, const char* t7, const char* t8,
                              const char* t9, const char* t10, const char* t11, const char* t12,
                              const char* t13, const char* t14, const char* t15, const char* t16,
                              const char* t17, const char* t18, const char* t19, const char* t20,
                              const char* t21, const char* t22, const char* t23, const char* t24,
                              const char* t25);

// Ordinal 2. The fields 1 to 30 of the answer of this thread's last EdiPosRequest, one per
// buffer (room kEdiFieldRoom each; missing fields empty): the second buffer holds the response
// code ("0000" approved), the third the response message. 1; 0 with every buffer emptied when
// there is no answer. A null buffer is skipped.
EDICONN_API int EdiPosAnswer(char* f1, char* f2, char* f3, char* f4, char* f5, char* f6,
                             char* f7, char* f8, char* f9, char* f10, char* f11, char* f12,
                             char* f13, char* f14, char* f15, char* f16, char* f17, char* f18,
                             char* f19, char* f20, char* f21, char* f22, char* f23, char* f24,
                             char* f25, char* f26, char* f27, char* f28, char* f29, char* f30);

#ifdef __cplusplus
}  // extern "C"

struct EdiconnOrdinal {
  int ordinal;
  const char* name;
};
inline constexpr EdiconnOrdinal kEdiconnOrdinals[] = {
    {1, "EdiPosRequest"}, {2, "EdiPosAnswer"},    {4, "EdiReadCard"},
    {5, "EdiCardTrack"},  {16, "EdiCashReceipt"}, {20, "EdiCashAnswer"},
};

// The entry points' types, for callers that look them up by name.
using EdiCashReceiptFn = decltype(&EdiCashReceipt);
using EdiCashAnswerFn = decltype(&EdiCashAnswer);
using EdiReadCardFn = decltype(&EdiReadCard);
using EdiCardTrackFn = decltype(&EdiCardTrack);
using EdiPosRequestFn = decltype(&EdiPosRequest);
using EdiPosAnswerFn = decltype(&EdiPosAnswer);

// The DLL name the hub and Helvar load the library by.
inline constexpr char kEdiconnLibraryName[] = "EDICONN.DLL";
#endif
