// Module approval: a card payment or cancellation approved through the sign-pad module library
// (KiccPad.DLL, companions/kiccpad) when the payment path is 0 or 1.
//
// The approval step of the card payment calls ModuleApproval on the terminal loop's thread with
// that loop's own library, the terminal's 042 frame, the pending request code and a copy of the
// relay slot's payment fields. The sequence:
//
//   1. request code 51, 61, 71 or 63 is a card request; any other: only the signature is stored
//      (steps 2 and 3) and the result is kNoCardRequest;
//   2. signature: the frame's "GP" block; epSetSeed(seed); epSetSignHexData(data as hex)
//      -- no block, or -1: kSignSaveFailed;
//   3. image: the image file removed; epSaveToCatBmp(its name) -- -1: kSignCompressFailed;
//      the compressed file remade from it (not examined);
//   4. request: the request record (module_request.h), its original-date field logged;
//      epSetReqData, epSetKiccIp, epSetKiccPort, epSendDSC, epGetAnsData -- epSetReqData or
//      epGetAnsData -1, or epSendDSC 0 or less: kPaymentFailed;
//   5. outcome: the answer record as the approval reply record, judged by ApplyModuleOutcome.
//
// A failure of steps 2-4 gives response code "9999" with its text as the response message.
// After an approval the caller builds the card receipt from the record and then calls
// ConfirmModuleApproval. The answer frame to the POS client is built from the record by the
// card payment (the record is all it needs).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "hub/core/relay_slot.h"
#include "hub/payments/approval_record.h"
#include "hub/payments/signature.h"
#include "platform/process.h"

namespace hub::payments {

// The local failures' response messages (CP949).
// "결제 오류 : 싸인저장실패!"
inline constexpr std::string_view kSignSaveFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : \xBD\xCE\xC0\xCE\xC0\xFA\xC0\xE5\xBD\xC7\xC6\xD0!";
// "결제 오류 : 싸인압축실패!"
inline constexpr std::string_view kSignCompressFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : \xBD\xCE\xC0\xCE\xBE\xD0\xC3\xE0\xBD\xC7\xC6\xD0!";
// "결제 오류 : 결제실패!"
inline constexpr std::string_view kPaymentFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : \xB0\xE1\xC1\xA6\xBD\xC7\xC6\xD0!";
// Shown when the library cannot work after loading: "VAN모듈 오픈 실패. Tavenor에 문의하세요".
inline constexpr std::string_view kSignPadOpenFailed =
    "VAN\xB8\xF0\xB5\xE2 \xBF\xC0\xC7\xC2 \xBD\xC7\xC6\xD0. Tavenor\xBF\xA1 "
    "\xB9\xAE\xC0\xC7\xC7\xCF\xBC\xBC\xBF\xE4";

inline constexpr std::string_view kApprovedCode = "0000";
inline constexpr std::string_view kLocalFailureCode = "9999";

// The library's entry points that an approval calls, each as the library declares it. A test
// puts its own in their place to make any of them fail.
class SignPadModule {
 public:
  virtual ~SignPadModule() = default;
  virtual int SetSeed(const char* seed) = 0;
  virtual int SetSignHexData(const char* hex) = 0;
  virtual int SaveToCatBmp(const char* file_name) = 0;
  virtual int SetReqData(const char* record) = 0;
  virtual int SetKiccIp(const char* address) = 0;
  virtual int SetKiccPort(const char* port) = 0;
  virtual int SendDSC() = 0;
  virtual int GetAnsData(char* answer) = 0;  // answer: at least kApprovalRecordSize bytes
  virtual int ConfirmDSC() = 0;
};

// The loaded library's entry points, looked up by name (all fourteen). nullptr, logged, when
// any is missing: an approval then fails with kPaymentFailed rather than call into nothing.
std::unique_ptr<SignPadModule> BindSignPadModule(const platform::Library& library);

// After loading: epConnect(0, 0). 1; when it returns -1 (or the library lacks it) the open
// failure is shown in a message box and logged, and 0 is returned; the library stays loaded.
int ConnectSignPadModule(const platform::Library& library);

// Where an approval finds the VAN server and the signature files.
struct ModuleApprovalSettings {
  std::string van_address;  // epSetKiccIp
  std::string van_port;     // epSetKiccPort
  SignatureFiles files;     // the image the library saves and its compressed form
};

// From the property map: the gateway server's address (the VAN server is reached there), the
// port of the registry value kicc::kPortValue under kicc::kSettingsKey (a text or a number;
// "15700" when missing) and the signature files under the install directory.
ModuleApprovalSettings ModuleApprovalSettingsFrom(const char* property_record);

// ModuleApproval's results, as the approval step of the card payment takes them.
inline constexpr int kModuleDeclined = 0;  // declined or failed: the record holds the answer
inline constexpr int kModuleApproved = 1;
inline constexpr int kNoCardRequest = 2;  // only the signature was stored; the record is zero

struct ModuleApprovalResult {
  int result = kModuleDeclined;
  ApprovalRecord record{};
};

// The approval of the sequence above. `payment` is the copy of the relay slot's payment fields
// the approval works on. `pad` null (the loop's library did not load or lacks an entry point):
// kPaymentFailed for a card request (logged), kNoCardRequest otherwise.
ModuleApprovalResult ModuleApproval(SignPadModule* pad, std::string_view frame, int request_code,
                                    PaymentFields payment, const ModuleApprovalSettings& settings);

// Judges an answer record in place: response code (spaces removed) "0000" with an approval
// number that is not blank: kModuleApproved. "0000" with a blank approval number (spaces or
// zero bytes only): the response code becomes "9999", kModuleDeclined. Any other code:
// kModuleDeclined, the record as it came.
int ApplyModuleOutcome(ApprovalRecord& record);

// A local failure: response code "9999" and `text` as the response message.
void SetModuleFailure(ApprovalRecord& record, std::string_view text);

// After the card receipt of an approval was built: epConfirmDSC (its result is not examined).
void ConfirmModuleApproval(SignPadModule& pad);

}  // namespace hub::payments
