// The settings of the connection property map that appear on paper or choose how a print is laid
// out, read once per print so that a layout function works on plain values.
#pragma once

#include <string>

namespace hub::payments {

// Payment paths (property offset 2652): 0 and 1 the sign-pad module, 2 the sign-pad objects.
inline constexpr int kSignPadObjectsPath = 2;

struct PharmacySettings {
  std::string trade_name;
  std::string area_code;
  std::string telephone;
  std::string business_number;
  std::string business_address;
  std::string owner_name;
  std::string terminal_id;  // terminal slot 0's
  std::string install_dir;  // where the signature files are
  int program_index = 0;
  int payment_path = 0;
  bool second_copy = false;    // print the merchant copy of a card receipt too
  bool rewrite_bills = false;  // rewrite the identity lines of bills printed for the POS side
};

// The settings from the property map record; all empty or zero when `record` is null.
PharmacySettings PharmacySettingsFrom(const char* record);

}  // namespace hub::payments
