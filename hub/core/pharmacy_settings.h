// The settings of the connection property map that appear on paper or choose how a print is laid
// out, read once per request so that a layout function works on plain values. The listeners
// read them (a refusal names terminal slot 0) and hand them to the payments side's prints; the
// payments side reads them from the property map.
#pragma once

#include <string>

namespace hub {

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
  int payment_path = 0;        // property offset 2652: which sign-pad the card payments use
  bool second_copy = false;    // print the merchant copy of a card receipt too
  bool rewrite_bills = false;  // rewrite the identity lines of bills printed for the POS side
};

}  // namespace hub
