// Sign-pad approval: a card payment or cancellation approved through the five sign-pad objects
// (companions/signpad) when the payment path is 2.
//
// The approval step of the card payment calls SignPadApproval on the terminal loop's thread with
// that loop's objects and state, the terminal's 042 frame, the pending request code and a copy of
// the relay slot's payment fields. The sequence:
//
//   1. request code 51, 61, 71 or 63 is a card request; any other: only the signature is stored
//      and the result is kNoCardRequest;
//   2. signature: the frame's "SM" block stored as the image file and compressed -- failing:
//      "9999" with kSignStoreFailed, and the approval goes on (a later outcome overwrites it);
//   3. working key: the first download on the loop's first approval, the later download after
//      it; its master key index and key logged;
//   4. signature encryption of the image file: signature data and hash code;
//   5. request packet: the packet of the request's name with its fields (SignPadRequestFields);
//   6. transaction: the packet exchanged for the answer packet;
//   7. answer: "응답코드" "00" approves and the answer's fields fill the record
//      (FillApprovedRecord); any other code declines with "9999" and the network's message.
//
// A failure of steps 3-7 gives "9999" with its text as the response message, and no further step
// runs. The answer frame to the POS client is built from the record by the card payment.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "companions/signpad/signpad_objects.h"
#include "hub/core/relay_slot.h"
#include "hub/payments/approval_record.h"
#include "hub/payments/module_approval.h"
#include "hub/payments/signature.h"
#include "platform/process.h"

namespace hub::payments {

// The sign-pad path's failures' response messages (CP949), besides kSignSaveFailed.
// "결제 오류 : WorkingKeyDownload fail!"
inline constexpr std::string_view kWorkingKeyFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : WorkingKeyDownload fail!";
// "결제 오류 : CoCreateInstance fail!"
inline constexpr std::string_view kCreateObjectFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : CoCreateInstance fail!";
// "결제 오류 : SMT_Sign_Encrypt_Key fail!"
inline constexpr std::string_view kSignEncryptFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : SMT_Sign_Encrypt_Key fail!";
// "결제 오류 : LoadPacketStruct fail!"
inline constexpr std::string_view kPacketFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : LoadPacketStruct fail!";
// "결제 오류 : OnTransaction fail!"
inline constexpr std::string_view kTransactionFailed =
    "\xB0\xE1\xC1\xA6 \xBF\xC0\xB7\xF9 : OnTransaction fail!";

// The DLL name the objects are created from.
inline constexpr std::string_view kSignPadObjectsDll = "SignPadObjects.dll";

// Room the hub keeps for the encryption object's texts (the rest is cut).
inline constexpr size_t kSignDataRoom = 9215;
inline constexpr size_t kHashCodeRoom = 199;

// Where the objects come from: one object per call, created by its class and interface
// identifiers, or nullptr when it cannot be created. A test puts its own objects in its place.
class SignPadObjectSource {
 public:
  virtual ~SignPadObjectSource() = default;
  virtual void* Create(const signpad::ObjectIds& ids) = 0;
};

// The objects of libSignPadObjects.so, loaded by kSignPadObjectsDll at the first creation (as an
// object's server is loaded when its first object is made) and kept loaded while this lives. A
// library that cannot be loaded, or lacks its factory, makes every creation fail (logged).
class InstalledSignPadObjects final : public SignPadObjectSource {
 public:
  void* Create(const signpad::ObjectIds& ids) override;

 private:
  std::unique_ptr<platform::Library> library_;
};

// What a terminal loop keeps across its approvals. REQUIRES: used by that loop's thread only.
struct SignPadApprovalState {
  // Set when the loop starts; cleared after its first successful working-key download.
  bool first_download = true;
};

// What an approval reads from the property map.
struct SignPadApprovalSettings {
  SignatureFiles files;  // the image stored from the "SM" block and its compressed form
  int log_flag = 0;      // the flag of the FILLER's diagnostic record (property offset 3080)
};
SignPadApprovalSettings SignPadApprovalSettingsFrom(const char* property_record);

// The approval of the sequence above: kModuleApproved, kModuleDeclined (the record holds "9999"
// and the message) or kNoCardRequest (the record is zero).
ModuleApprovalResult SignPadApproval(SignPadObjectSource& objects, SignPadApprovalState& state,
                                     std::string_view frame, int request_code,
                                     PaymentFields payment,
                                     const SignPadApprovalSettings& settings);

// A terminal loop's sign-pad path: its objects and state, for the approval step to call with the
// property map of the module.
class SignPadPath {
 public:
  ModuleApprovalResult Approve(std::string_view frame, int request_code,
                               const PaymentFields& payment, const char* property_record);

 private:
  InstalledSignPadObjects objects_;
  SignPadApprovalState state_;
};

// The approval step's entry for payment path 2: the calling terminal loop's own path (one per
// thread, made at the thread's first approval and kept for the thread's life, so a loop that
// starts again downloads first again) with the module's property map.
// REQUIRES: called on the terminal loop's thread.
ModuleApprovalResult SignPadApprovalOnThisLoop(std::string_view frame, int request_code,
                                               const PaymentFields& payment);

// --- The pieces, for their tests ----------------------------------------------------------

struct SignPadField {
  std::string_view name;
  std::string value;
  bool data = false;  // set with the data-field operation
};

// The request fields of a card request in the order they are set; empty for another code.
// `sign_data` and `hash_code` are the encryption object's texts.
std::vector<SignPadField> SignPadRequestFields(int request_code, const PaymentFields& payment,
                                               std::string_view sign_data,
                                               std::string_view hash_code);

// The FILLER: "TVNR", amount 1 and amount 2 in ten digits zero-filled, twelve spaces, the program
// code right-aligned in three.
std::string SignPadFiller(const PaymentFields& payment);

// The packet name of a card request; empty for another code.
std::string_view SignPadPacketName(int request_code);

// An answer field's value by its name (CP949); nullopt when it cannot be read.
using AnswerFieldReader = std::function<std::optional<std::string>(std::string_view name)>;

// Fills the record of an approved answer: "0000", then each answer field formatted right-aligned
// into its record field, and the card number (the card data up to its first "="). False as soon
// as a field cannot be read; the record keeps what was written so far.
bool FillApprovedRecord(ApprovalRecord& record, std::string_view card_data,
                        const AnswerFieldReader& field);

// One answer field right-aligned in `width` ("%<width>s"), written over `record_field` (a
// longer text is cut to the record field).
void PutRightAligned(ApprovalRecord& record, RecordField record_field, size_t width,
                     std::string_view text);

}  // namespace hub::payments
