// Requests to Helvar, the tray service program that does the pharmacy-database work: the hub
// (and the host, through the hub) sends them to Helvar's window as copy-data messages whose
// wParam and dwData are the request code; Helvar's reply comes back through the shared block
// (protocol/shared_block.h) with the request code as its status.
#pragma once

#include <cstdint>
#include <string_view>

namespace protocol {

// The title of Helvar's window, which requests are sent to.
inline constexpr std::string_view kHelvarWindowTitle = "Helvar";

// Request codes. For a base the code sent is the base plus the terminal index (0-2) unless noted.
enum HelvarRequest : int32_t {
  kHelvarGuidanceSheet = 8,            // medication guidance (no terminal index)
  kHelvarGuidanceLibrary = 9,          // guidance through the pharmacy program's library
  kHelvarGuidanceWithoutPatient = 66,  // PM2000 guidance of a prescription without patient
  kHelvarCustomerList = 200,
  kHelvarCustomerListSecond = 250,
  kHelvarPrescriptions = 300,
  kHelvarGuidancePrint = 310,
  kHelvarSellerList = 400,
  kHelvarCardData = 410,
  kHelvarBuildBarcodeDb = 700,
  kHelvarBarcodeLookup = 705,
  kHelvarTypeText = 710,
  kHelvarBarcodeRead = 715,
  kHelvarSale = 800,
  kHelvarCancel = 850,
  kHelvarCancelWithMessage = 860,
  kHelvarRetryStored = 900,       // Helvar's own timer: retry one stored request
  kHelvarClearDisplay = 950,      // no terminal index
  kHelvarDisplayCustomers = 951,  // no terminal index
};

// The terminals a based request can name: codes base through base + 2.
inline constexpr int32_t kHelvarTerminals = 3;

}  // namespace protocol
